#pragma once

#include <QWidget>

#include <array>

class QLabel;
class QLineEdit;

namespace vantorel {

class InfoState;

// The result table "Info": 32 columns in four bands of eight, each with a
// Version and a Cheksum box, and the file checksum at the top.
class InfoWindow : public QWidget {
    Q_OBJECT
public:
    InfoWindow(InfoState &state, QWidget *parent);
    ~InfoWindow() override;

protected:
    void closeEvent(QCloseEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void buildHeading();
    void buildCloseButton();
    void buildBands();
    void buildSummary();
    void sync();
    void fitSummary();
    InfoState &state_;
    QWidget *table_;
    QLabel *titre_;
    QLabel *label41_;
    QLineEdit *fileCheksum_;
    QLabel *summary_;
    std::array<QLineEdit *, 32> ver_{};
    std::array<QLineEdit *, 32> ckSum_{};
    int viewKey_;
};

} // namespace vantorel
