#ifndef HELPDIALOG_H
#define HELPDIALOG_H

#include <QDialog>

class Ui_HelpDialog;

// The short help page shown by Help > Index. Each dialog owns its form object;
// the widgets belong to the dialog's object tree. The main window creates a new
// dialog for every request; each one is deleted once it is closed.
class HelpDialog : public QDialog
{
    Q_OBJECT

public:
    explicit HelpDialog(QWidget *parent = nullptr);
    ~HelpDialog() override;

protected:
    void changeEvent(QEvent *e) override;

private:
    Ui_HelpDialog *ui;
};

#endif // HELPDIALOG_H
