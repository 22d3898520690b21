#include "imaging/gridmaxflow.h"

#include <algorithm>
#include <limits>
#include <new>

namespace {

constexpr int32_t unreachable = std::numeric_limits<int32_t>::max();

// Growth steps between two looks at the cancel flag.
constexpr int stepsBetweenChecks = 4096;

// Nodes are numbered with 32-bit integers.
size_t countable(size_t nodes)
{
    if (nodes >= size_t(std::numeric_limits<int32_t>::max()))
        throw std::bad_alloc();
    return nodes;
}

} // namespace

GridMaxFlow::GridMaxFlow(int width, int height)
    : w(std::max(0, width))
    , h(std::max(0, height))
    , nodes(countable(size_t(std::max(0, width) + 2) * size_t(std::max(0, height) + 2)))
{
    for (unsigned k = 0; k < 8; ++k)
        step[k] = directions[k][0] + directions[k][1] * (w + 2);
}

GridMaxFlow::GridMaxFlow(size_t vertices)
    : nodes(countable(vertices + 1))
    , table(nodes.size() * 8, 0)
{ }

void GridMaxFlow::linkVertices(int32_t vertex, int k, int32_t neighbour, uint8_t capacity)
{
    const size_t count = nodes.size() - 1;
    if (vertex < 0 || neighbour < 0 || size_t(vertex) >= count || size_t(neighbour) >= count || k < 0 || k >= 8)
        return;
    table[size_t(vertex + 1) * 8 + size_t(k)] = neighbour + 1;
    nodes[size_t(vertex) + 1].capacity[size_t(k)] = capacity;
}

void GridMaxFlow::setLink(int x, int y, int k, uint8_t capacity)
{
    const int nx = x + directions[size_t(k)][0];
    const int ny = y + directions[size_t(k)][1];
    if (x < 0 || y < 0 || x >= w || y >= h || nx < 0 || ny < 0 || nx >= w || ny >= h)
        return;
    nodes[index(x, y)].capacity[size_t(k)] = capacity;
}

void GridMaxFlow::setPullOf(int32_t i, int32_t pull)
{
    if (i <= 0 || size_t(i) >= nodes.size())
        return;
    Node &node = nodes[size_t(i)];
    // The flow the terminals sent into the pixel stays what it was; what is
    // left of its terminal links moves with the pull.
    node.residual = int32_t(int64_t(node.residual) + pull - node.pull);
    node.pull = pull;
}

void GridMaxFlow::activate(int32_t i)
{
    Node &node = nodes[size_t(i)];
    if (node.next >= 0)
        return;
    if (queueLast[1] >= 0)
        nodes[size_t(queueLast[1])].next = i;
    else
        queueFirst[1] = i;
    queueLast[1] = i;
    node.next = i;
}

// Nodes are taken from the first queue while the second gathers the nodes
// activated meanwhile, so the trees grow in order of distance.
int32_t GridMaxFlow::nextActive()
{
    for (;;) {
        int32_t i = queueFirst[0];
        if (i < 0) {
            queueFirst[0] = i = queueFirst[1];
            queueLast[0] = queueLast[1];
            queueFirst[1] = queueLast[1] = -1;
            if (i < 0)
                return -1;
        }
        Node &node = nodes[size_t(i)];
        if (node.next == i)
            queueFirst[0] = queueLast[0] = -1;
        else
            queueFirst[0] = node.next;
        node.next = -1;
        if (node.parent != None)
            return i;
    }
}

// The residual of the link between node i and its parent that a path's flow
// uses up: from the parent in the source's tree, toward it in the sink's.
uint8_t &GridMaxFlow::pathLink(int32_t i)
{
    Node &node = nodes[size_t(i)];
    return node.sink ? node.capacity[node.parent] : nodes[size_t(neighbour(i, node.parent))].capacity[node.parent ^ 1u];
}

// The same link's reverse, which the flow frees.
uint8_t &GridMaxFlow::pathReverse(int32_t i)
{
    Node &node = nodes[size_t(i)];
    return node.sink ? nodes[size_t(neighbour(i, node.parent))].capacity[node.parent ^ 1u] : node.capacity[node.parent];
}

// Sends what the path through link k of `from` (in the source's tree) into
// the sink's tree can carry; nodes whose link to their parent it saturates
// become orphans. The two halves of the path are walked alike, each from the
// joining link to its terminal.
void GridMaxFlow::augment(int32_t from, unsigned k)
{
    const int32_t to = neighbour(from, k);
    int32_t bottleneck = nodes[size_t(from)].capacity[k];
    for (const int32_t start : {from, to}) {
        for (int32_t i = start;; i = neighbour(i, nodes[size_t(i)].parent)) {
            const Node &node = nodes[size_t(i)];
            if (node.parent == Terminal) {
                bottleneck = std::min(bottleneck, node.sink ? -node.residual : node.residual);
                break;
            }
            bottleneck = std::min<int32_t>(bottleneck, pathLink(i));
        }
    }

    nodes[size_t(from)].capacity[k] = uint8_t(nodes[size_t(from)].capacity[k] - bottleneck);
    nodes[size_t(to)].capacity[k ^ 1u] = uint8_t(nodes[size_t(to)].capacity[k ^ 1u] + bottleneck);
    for (const int32_t start : {from, to}) {
        for (int32_t i = start;;) {
            Node &node = nodes[size_t(i)];
            if (node.parent == Terminal) {
                node.residual += node.sink ? bottleneck : -bottleneck;
                if (node.residual == 0) {
                    node.parent = Orphan;
                    orphans.push_back(i);
                }
                break;
            }
            const int32_t parent = neighbour(i, node.parent);
            uint8_t &used = pathLink(i);
            used = uint8_t(used - bottleneck);
            uint8_t &freed = pathReverse(i);
            freed = uint8_t(freed + bottleneck);
            if (used == 0) {
                node.parent = Orphan;
                orphans.push_back(i);
            }
            i = parent;
        }
    }
}

// Finds an orphan a new parent in its own tree, the one nearest a terminal
// whose own path still reaches it; without one, the orphan is freed and its
// children orphaned in turn.
void GridMaxFlow::adopt(int32_t i)
{
    Node &orphan = nodes[size_t(i)];
    const bool sink = orphan.sink;
    // A parent passes flow to a source-side child, a sink-side child to its
    // parent: the link that must have room runs the other way.
    const auto hasRoom = [&](int32_t j, unsigned k) {
        return sink ? orphan.capacity[k] > 0 : nodes[size_t(j)].capacity[k ^ 1u] > 0;
    };
    int32_t best = unreachable;
    uint8_t bestDirection = None;
    for (unsigned k = 0; k < 8; ++k) {
        const int32_t j = neighbour(i, k);
        const Node &candidate = nodes[size_t(j)];
        if (candidate.parent == None || candidate.sink != sink || !hasRoom(j, k))
            continue;
        int32_t d = 0;
        for (int32_t at = j;;) {
            Node &node = nodes[size_t(at)];
            if (node.stamp == time) {
                d += node.distance;
                break;
            }
            ++d;
            if (node.parent == Terminal) {
                node.stamp = time;
                node.distance = 1;
                break;
            }
            if (node.parent == Orphan) {
                d = unreachable;
                break;
            }
            at = neighbour(at, node.parent);
        }
        if (d == unreachable)
            continue;
        if (d < best) {
            best = d;
            bestDirection = uint8_t(k);
        }
        // Remember the distances along the path for the next orphans.
        for (int32_t at = j; nodes[size_t(at)].stamp != time; at = neighbour(at, nodes[size_t(at)].parent)) {
            nodes[size_t(at)].stamp = time;
            nodes[size_t(at)].distance = d--;
        }
    }
    if (bestDirection != None) {
        orphan.parent = bestDirection;
        orphan.stamp = time;
        orphan.distance = best + 1;
        return;
    }
    orphan.parent = None;
    for (unsigned k = 0; k < 8; ++k) {
        const int32_t j = neighbour(i, k);
        Node &node = nodes[size_t(j)];
        if (node.parent == None || node.sink != sink)
            continue;
        if (hasRoom(j, k))
            activate(j);
        if (node.parent < 8 && neighbour(j, node.parent) == i) {
            node.parent = Orphan;
            orphans.push_back(j);
        }
    }
}

bool GridMaxFlow::solve(const std::atomic_bool *cancel)
{
    queueFirst = {-1, -1};
    queueLast = {-1, -1};
    orphans.clear();
    time = 0;
    // The nodes that stand for missing neighbours never hold a pull.
    for (size_t n = 0; n < nodes.size(); ++n) {
        const int32_t i = int32_t(n);
        Node &node = nodes[n];
        node.next = -1;
        node.stamp = 0;
        node.distance = 1;
        if (node.residual != 0) {
            node.parent = Terminal;
            node.sink = node.residual < 0;
            activate(i);
        } else {
            node.parent = None;
        }
    }

    int32_t current = -1;
    for (int steps = 1;; ++steps) {
        if (steps % stepsBetweenChecks == 0 && cancel && cancel->load(std::memory_order_relaxed))
            return false;
        int32_t i = current;
        if (i >= 0) {
            nodes[size_t(i)].next = -1;
            if (nodes[size_t(i)].parent == None)
                i = -1;
        }
        if (i < 0 && (i = nextActive()) < 0)
            break;

        // Grow the node's tree into its free neighbours until a link joins
        // the two trees: `from` in the source's tree, linked by k.
        const Node &node = nodes[size_t(i)];
        int32_t from = -1;
        unsigned link = 0;
        for (unsigned k = 0; k < 8; ++k) {
            const int32_t j = neighbour(i, k);
            Node &other = nodes[size_t(j)];
            const bool room = node.sink ? other.capacity[k ^ 1u] > 0 : node.capacity[k] > 0;
            if (!room)
                continue;
            if (other.parent == None) {
                other.sink = node.sink;
                other.parent = uint8_t(k ^ 1u);
                other.stamp = node.stamp;
                other.distance = node.distance + 1;
                activate(j);
            } else if (other.sink != node.sink) {
                from = node.sink ? j : i;
                link = node.sink ? k ^ 1u : k;
                break;
            } else if (other.stamp <= node.stamp && other.distance > node.distance) {
                other.parent = uint8_t(k ^ 1u);
                other.stamp = node.stamp;
                other.distance = node.distance + 1;
            }
        }
        // The stamps only tell which distances are recent: starting them
        // afresh costs a little search, never a wrong cut.
        if (++time == std::numeric_limits<int32_t>::max()) {
            for (Node &node : nodes)
                node.stamp = 0;
            time = 1;
        }
        if (from < 0) {
            current = -1;
            continue;
        }
        // The node may join the trees again: it stays active.
        nodes[size_t(i)].next = i;
        current = i;
        augment(from, link);
        for (size_t o = 0; o < orphans.size(); ++o)
            adopt(orphans[o]);
        orphans.clear();
    }
    return true;
}
