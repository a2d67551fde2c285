// TAboutBox: the about box shown at start-up and from "?" > "About".
#pragma once

#include <QDialog>
#include <QPointer>

class QAbstractButton;
class QLabel;

namespace lw {

class TAboutBox : public QDialog {
    Q_OBJECT
    Q_PROPERTY(int helpContext READ helpContext)
public:
    static constexpr int designedWidth = 437; // client area
    static constexpr int designedHeight = 271;
    static constexpr int helpTopic = 1000;

    explicit TAboutBox(QWidget* parent = nullptr);

    // The picture, centred in its region left between the bands.
    QLabel* AboutImage = nullptr;
    // The close area over the "OK" text of the right panel.
    QAbstractButton* SpeedButton1 = nullptr;

    int helpContext() const { return helpTopic; }

public slots:
    // A click on the close area closes the box.
    void OKButtonClick();
    // Every other way of closing the box (the window manager's close button) does the same.
    void reject() override;

protected:
    void keyPressEvent(QKeyEvent* event) override;
};

// The shared reference to the about box created last, or null.
extern QPointer<TAboutBox> AboutBox;

// Start-up: creates the box and stores it in AboutBox (it is then shown modally by the caller).
TAboutBox* createAboutBox();

// About1Click: creates a new box (owned by the application), stores it and shows it modally;
// every failure is swallowed.
void showNewAboutBox();

// The main window's activation: destroys the box in AboutBox, if any, and clears the reference;
// failures are swallowed. A box that is still showing is left for a later activation.
void destroyAboutBox();

} // namespace lw
