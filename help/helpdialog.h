#pragma once

#include <QDialog>

namespace Ui {
class HelpDialog;
}

// The user guide: a small modeless window with the rich-text help document.
class HelpDialog : public QDialog
{
    Q_OBJECT

public:
    explicit HelpDialog(QWidget *parent = nullptr);
    ~HelpDialog() override;

protected:
    void changeEvent(QEvent *event) override;

private slots:
    void on_buttonOK_clicked();

private:
    Ui::HelpDialog *ui;
};
