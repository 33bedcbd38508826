#ifndef ABOUT_FORM_H
#define ABOUT_FORM_H

#include <QDialog>

class QFrame;
class QLabel;
class QPushButton;

// Credits: the program, its research project and institute, the licence and
// the libraries, with three logos from the embedded pictures and a Close
// button. Modal whatever `modal` says.
class about_form : public QDialog
{
    Q_OBJECT

public:
    explicit about_form(QWidget* parent = nullptr, const char* name = nullptr, bool modal = false,
                        Qt::WindowFlags fl = {});
    ~about_form() override;

    QFrame* frame5;
    QLabel* pixmapLabel1_2_3;
    QLabel* textLabel3;
    QLabel* textLabel3_3;
    QLabel* textLabel3_2;
    QFrame* frame9;
    QLabel* textLabel3_3_2_2_2;
    QLabel* pixmapLabel1_2_2_2;
    QLabel* pixmapLabel1_2_2;
    QLabel* textLabel3_3_2_3;
    QLabel* textLabel3_3_2_3_2;
    QLabel* textLabel3_3_2_3_2_2;
    QFrame* frame8;
    QLabel* licence_label;
    QLabel* licence_file_label;
    QLabel* lib_label;
    QLabel* lib_web_label;
    QLabel* lib_web_label_2;
    QPushButton* close_button;

public slots:
    virtual void init();

protected slots:
    virtual void languageChange();

protected:
    void changeEvent(QEvent* event) override;
};

#endif
