// The demo's main window: choose one of the library's request functions, edit
// its sample request, optionally choose an image, submit and read the result.
#ifndef ZOLVO_DEMO_MAINWINDOW_H
#define ZOLVO_DEMO_MAINWINDOW_H

#include <string>

#include <QMainWindow>

namespace Ui {
class MainWindowForm;
}

class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

private slots:
    void on_typeComboBox_activated(int index);
    void on_fileButton_clicked();
    void on_submitButton_clicked();

private:
    // Writes the result text's bytes, shows it decoded and ends the submit's lines.
    void showResult(const std::string &result);

    Ui::MainWindowForm *ui;
};

#endif  // ZOLVO_DEMO_MAINWINDOW_H
