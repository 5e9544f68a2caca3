#pragma once

#include <QImage>
#include <QPointer>
#include <QWidget>
#include <memory>
#include <string>
#include <thread>

class QLabel;
class QTimer;

namespace qm {

// A 32 × 32 picture that shows four frames in turn, one every 66 ms, while it
// is active. Frames change on the thread that owns the widget, so the picture
// moves only while that thread processes its events.
class TAnimatedImage : public QWidget {
    Q_OBJECT
public:
    static constexpr int kFrameCount = 4;
    static constexpr int kFrameSize = 32;
    static constexpr int kFrameInterval = 66;  // ms

    explicit TAnimatedImage(QWidget* parent = nullptr);

    void SetActive(bool active);
    bool Active() const;
    int Frame() const { return frame_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void Step();

    QImage strip_;  // the four frames side by side, 128 × 32
    QTimer* timer_;
    int frame_ = 0;
};

// The wait window: a small tool window without border icons that stands over
// the program while an operation blocks the user-interface thread. It refuses
// every close request; only its owner destroys it.
class TWaitForm : public QWidget {
    Q_OBJECT
public:
    static constexpr const char* kCaption = "Ожидайте";
    static constexpr int kClientWidth = 379;
    static constexpr int kClientHeight = 73;
    // Where lblInfo stands, and the margin kept right of it.
    static constexpr int kTextLeft = 56;
    static constexpr int kTextTop = 24;
    static constexpr int kTextRight = 8;

    explicit TWaitForm(QWidget* parent = nullptr);

    // Shows the text in lblInfo; the window grows, about its centre, where the
    // text is wider or taller than the designed size allows.
    void SetText(const std::string& text);

    // Repaints the window at once, then processes the pending events of the
    // user-interface thread once. The window may be destroyed by what those
    // events do; nothing of it is touched after they have been processed.
    void UpdateWaitForm();
    // How many times UpdateWaitForm has run.
    int UpdateCount() const { return updates_; }

    QLabel* lblInfo;
    TAnimatedImage* AnimatedImage;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    int updates_ = 0;
};

// One shown wait window with its thread. The thread touches no widget: every
// 100 ms it asks the user-interface thread to run UpdateWaitForm and blocks
// until that has run. The request is served wherever that thread processes its
// queued events (QCoreApplication::processEvents, so any IEventPump built on
// it). Create and destroy on the user-interface thread only.
class TWaitThread {
public:
    // Disables ownerForm (may be null), creates the wait window with no parent,
    // centres it over the main window, starts its animation, shows it and
    // starts the thread.
    explicit TWaitThread(QWidget* ownerForm);
    // Stops the thread without waiting for a pending request to be served,
    // joins it, destroys the wait window and enables the owner form again
    // unless it was disabled before, or has been destroyed meanwhile.
    ~TWaitThread();

    TWaitThread(const TWaitThread&) = delete;
    TWaitThread& operator=(const TWaitThread&) = delete;

    QWidget* OwnerForm() const { return owner_; }
    TWaitForm* WaitForm() const { return form_; }
    // True while the thread waits for its request to be served.
    bool RequestPending() const;

    struct HandOver;

private:
    void Run();

    std::shared_ptr<HandOver> handOver_;
    QPointer<QWidget> owner_;
    bool ownerWasDisabled_ = false;
    QPointer<TWaitForm> form_;
    std::thread thread_;
};

// Disables form, shows the wait window with text and starts the wait thread,
// then processes pending events once so that the window is painted before the
// caller blocks. A wait window already shown is hidden first: there is at most
// one.
void ShowWait(QWidget* form, const std::string& text);

// Stops the wait thread, destroys the wait window and enables the form again.
// Does nothing when no wait window is shown.
void HideWait();

// The current wait thread, or null when no wait window is shown.
TWaitThread* WaitThread();

// ShowWait for the life of a scope: HideWait runs on every way out of it, an
// escaping error included, so no box shown afterwards stands under the wait
// window.
class TWaitShown {
public:
    TWaitShown(QWidget* form, const std::string& text) { ShowWait(form, text); }
    ~TWaitShown() { HideWait(); }

    TWaitShown(const TWaitShown&) = delete;
    TWaitShown& operator=(const TWaitShown&) = delete;
};

}  // namespace qm
