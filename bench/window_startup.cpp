// One start of the main window, timed: prints the monotonic time at which
// the window was first painted and, once it has settled, the resident
// memory. bench/window_startup.py starts this many times and compares it
// with a bare Qt dialog started the same way.
//
// Usage: bench_window_startup tessel|bare
// The window starts as the program starts it (Qt without the program's
// parameters, the program's look, the real initialisation and engine); only
// the network channel is an idle stand-in, so the benchmark neither needs
// port 67 nor hears a network.
#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QTimer>

#include <condition_variable>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <mutex>
#include <string>

#include "app/tesselapp.h"
#include "app/tesseldlg.h"
#include "app/windowclasses.h"

using namespace tessel;

namespace {

// After the first paint, time for the animation and the start-up note to
// run a little before the memory is read.
constexpr int kSettleMs = 1500;

double MonotonicSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

long StatusKb(const char* field)
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind(field, 0) == 0) return std::stol(line.substr(std::string(field).size()));
    }
    return -1;
}

// A channel that opens and then waits quietly until it is woken.
class IdleChannel final : public BootpChannel {
public:
    OpenResult Open() override { return OpenResult::Ok; }
    ReceiveStatus Receive(BootpMessage& message) override
    {
        message.Clear();
        std::unique_lock<std::mutex> lock(m_lock);
        m_woken.wait(lock, [this] { return m_bWoken; });
        return ReceiveStatus::Closed;
    }
    bool SendReply(std::span<const std::uint8_t>, const BootpMessage&) override { return true; }
    void Wake() override
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_bWoken = true;
        m_woken.notify_all();
    }
    void Close() override {}

private:
    std::mutex m_lock;
    std::condition_variable m_woken;
    bool m_bWoken = false;
};

class FirstPaint final : public QObject {
public:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint && m_at == 0.0) m_at = MonotonicSeconds();
        return QObject::eventFilter(watched, event);
    }
    double m_at = 0.0;
};

}  // namespace

int main(int argc, char* argv[])
{
    const std::string mode = argc > 1 ? argv[1] : "tessel";
    static char* qtArgv[] = {argv[0], nullptr};
    static int qtArgc = 1;
    QApplication app(qtArgc, qtArgv);

    FirstPaint paint;
    std::unique_ptr<QDialog> dlg;
    if (mode == "bare") {
        dlg = std::make_unique<QDialog>();
        auto* label = new QLabel(QStringLiteral("MERROW Tessel"), dlg.get());
        label->move(20, 20);
        dlg->resize(632, 416);
    } else {
        ApplyProgramLook(app);
        RegisterWindowClasses();
        DialogEnvironment env;
        env.makeChannel = [] { return std::make_unique<IdleChannel>(); };
        dlg = std::make_unique<CTesselDlg>(false, std::move(env));
    }
    dlg->installEventFilter(&paint);
    QTimer::singleShot(0, [&] {
        // Paint events come once the window is exposed; wait for the first,
        // then let the window run before reading the memory.
        auto* poll = new QTimer(&app);
        QObject::connect(poll, &QTimer::timeout, [&, poll] {
            if (paint.m_at == 0.0) return;
            poll->stop();
            QTimer::singleShot(kSettleMs, [&] {
                std::printf("first_paint %.6f\nrss_kb %ld\nhwm_kb %ld\n", paint.m_at, StatusKb("VmRSS:"),
                            StatusKb("VmHWM:"));
                std::fflush(stdout);
                // The close the program makes: stops the engine and ends.
                dlg->reject();
                app.quit();
            });
        });
        poll->start(1);
    });
    dlg->show();
    app.exec();
    return 0;
}
