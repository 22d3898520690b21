#ifndef GRIDMAXFLOW_H
#define GRIDMAXFLOW_H

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

// A minimum cut of a pixel grid between a source and a sink: each pixel is
// linked to its eight neighbours and pulled toward one terminal. Boykov and
// Kolmogorov's search trees on the grid itself: a neighbour is found by its
// offset, never stored, and a link's residual fits a byte, so a pixel costs
// 32 bytes where a general graph of the same links costs several times that.
// A band of the grid (any set of pixels) is cut the same way, its pixels
// numbered as the caller likes and each one's neighbours kept in a table: 64
// bytes a pixel.
//
// Solving again after changing pulls goes on from the flow found before
// (Kohli and Torr's dynamic cuts): each pixel's pull toward the source less
// its pull toward the sink is all its terminal links need, and changing it
// keeps the flow through the pixel's neighbour links valid.
class GridMaxFlow
{
public:
    // The eight directions in opposite pairs (2j, 2j + 1), the straight four
    // first: direction k ^ 1 leads back.
    static constexpr std::array<std::array<int, 2>, 8> directions{
        {{1, 0}, {-1, 0}, {0, 1}, {0, -1}, {1, 1}, {-1, -1}, {1, -1}, {-1, 1}}};

    // Both throw std::bad_alloc when the grid does not fit in memory or has
    // more nodes than 32-bit numbers count.
    GridMaxFlow(int width, int height);

    // A band of `vertices` pixels, linked with linkVertices().
    explicit GridMaxFlow(size_t vertices);

    // In a band: vertex `neighbour` lies in direction k of `vertex`, and the
    // link from one to the other carries `capacity`. Both links of a pair
    // are set, each from its own end.
    void linkVertices(int32_t vertex, int k, int32_t neighbour, uint8_t capacity);
    void setVertexPull(int32_t vertex, int32_t pull) { setPullOf(vertex + 1, pull); }
    bool vertexOnSourceSide(int32_t vertex) const { return onSourceSide(vertex + 1); }

    // The capacity of the link from pixel (x, y) to its neighbour in direction
    // k; a link leaving the grid is ignored. A link and its reverse may carry
    // at most 255 together. Only before the first solve().
    void setLink(int x, int y, int k, uint8_t capacity);

    // How strongly pixel (x, y) is held on the source's side (positive) or the
    // sink's (negative), replacing the pull set before.
    void setPull(int x, int y, int32_t pull)
    {
        if (x >= 0 && y >= 0 && x < w && y < h)
            setPullOf(int32_t(index(x, y)), pull);
    }

    // A maximum flow, from where the last solve left it. False when cancelled:
    // the flow is then valid but not maximal, and sourceSide() undefined.
    bool solve(const std::atomic_bool *cancel = nullptr);

    // Whether the source still reaches pixel (x, y): the smallest source side
    // of all minimum cuts, the same for every maximum flow.
    bool sourceSide(int x, int y) const { return onSourceSide(int32_t(index(x, y))); }

private:
    enum : uint8_t { Terminal = 8, Orphan = 9, None = 10 };

    struct Node {
        int32_t residual = 0; // to the source's side while positive, the sink's while negative
        int32_t pull = 0;
        int32_t next = -1; // the next active node; itself when last; -1 when not active
        int32_t stamp = 0; // when `distance` was last known to be right
        int32_t distance = 0;
        std::array<uint8_t, 8> capacity{}; // residual of the link in each direction
        uint8_t parent = None;             // direction of the link to the parent
        bool sink = false;
    };

    size_t index(int x, int y) const { return size_t(y + 1) * size_t(w + 2) + size_t(x + 1); }
    int32_t neighbour(int32_t i, unsigned k) const { return table.empty() ? i + step[k] : table[size_t(i) * 8 + k]; }
    void setPullOf(int32_t i, int32_t pull);
    bool onSourceSide(int32_t i) const
    {
        const Node &node = nodes[size_t(i)];
        return node.parent != None && !node.sink;
    }
    void activate(int32_t i);
    int32_t nextActive();
    uint8_t &pathLink(int32_t i);
    uint8_t &pathReverse(int32_t i);
    void augment(int32_t from, unsigned k);
    void adopt(int32_t i);

    int w = 0;
    int h = 0;
    std::array<int32_t, 8> step{};
    // One node of border around the grid, never linked, spares a bounds test;
    // in a band, node 0 stands for every missing neighbour, and vertex v is
    // node v + 1.
    std::vector<Node> nodes;
    std::vector<int32_t> table; // a band's neighbours: node i's in direction k at i * 8 + k
    std::array<int32_t, 2> queueFirst{-1, -1};
    std::array<int32_t, 2> queueLast{-1, -1};
    std::vector<int32_t> orphans;
    int32_t time = 0;
};

#endif // GRIDMAXFLOW_H
