// TAboutBox: the about box shown at start-up and from "?" > "About".
#pragma once

#include <QDialog>
#include <QPointer>

namespace lw {

class TAboutBox : public QDialog {
    Q_OBJECT
public:
    explicit TAboutBox(QWidget* parent = nullptr);
};

// The shared reference to the about box created last, or null.
extern QPointer<TAboutBox> AboutBox;

// Start-up: creates the box and stores it in AboutBox (it is then shown modally by the caller).
TAboutBox* createAboutBox();

// About1Click: creates a new box (owned by the application), stores it and shows it modally;
// every failure is swallowed.
void showNewAboutBox();

// The main window's activation: destroys the box in AboutBox, if any, and clears the reference;
// failures are swallowed.
void destroyAboutBox();

} // namespace lw
