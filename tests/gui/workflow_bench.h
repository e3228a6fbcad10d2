// A stand-in main window for the workflow's GUI tests: the list over the
// engine's table, the address control, the status line, the Close button
// and the animation, with the engine host (not started unless a test needs
// its thread), scripted boxes, recorded system commands and virtual time
// that a schedule can act on.
#pragma once

#include <QDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTreeView>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "app/serverlistmodel.h"
#include "app/ipaddrctl.h"
#include "engine/engine_host.h"
#include "engine/server_table.h"
#include "log/logfile.h"
#include "app/animatectrl.h"
#include "tests/gui/scripted_messagebox.h"
#include "tests/hook_clock.h"
#include "tests/unit/recording_commands.h"
#include "workers/hand_over.h"
#include "workers/icmp_probe.h"
#include "app/mainwindowview.h"
#include "workflow/window_commands.h"

namespace tessel::testing {

struct WorkflowBench {
    explicit WorkflowBench(bool inkwell = false, Clock* clockOverride = nullptr,
                           std::unique_ptr<BootpChannel> channel = nullptr)
    {
        EngineSetup setup;
        logPath = dir.filePath(QStringLiteral("Tessel.log")).toStdString();
        setup.logfile = std::make_unique<CLogfile>(LogfilePath{logPath});
        setup.hostAddress = "10.1.2.3";
        setup.printServersOnly = inkwell;
        setup.clock = clockOverride ? clockOverride : &clock;
        if (channel) setup.channel = std::move(channel);
        engine = std::make_unique<EngineHost>(std::move(setup));
        engine->Table().Delete(0);  // the placeholder row

        window.resize(500, 300);
        list = new QTreeView(&window);
        list->setSelectionBehavior(QAbstractItemView::SelectRows);
        list->setSelectionMode(QAbstractItemView::SingleSelection);
        model = new ServerListItemModel(&window);
        model->Attach(engine->Table());
        list->setModel(model);
        list->setGeometry(0, 0, 300, 150);
        address = new CIPAddrCtl(&window);
        address->setGeometry(0, 160, 150, 24);
        status = new QLineEdit(&window);
        status->setGeometry(0, 190, 300, 20);
        closeButton = new QPushButton(QStringLiteral("&Close"), &window);
        closeButton->setGeometry(320, 200, 80, 24);
        animation = new CAnimateCtrl(&window);
        animation->setGeometry(320, 20, 80, 48);
        SetHelpContextSource(&help);

        step2 = new QWidget(&window);
        setIp = new QPushButton(QStringLiteral("&Set IP address"), &window);
        setIp->setGeometry(160, 160, 120, 24);
        view = std::make_unique<QtMainWindowView>(
            QtMainWindowView::Controls{&window, list, address, status, step2, setIp, closeButton, animation},
            clockOverride ? *clockOverride : clock, [this](const std::string& a) { registered.push_back(a); });
        QObject::connect(&window, &QDialog::finished, [this] { endedAt = this->clock.NowMs(); });

        WindowCommandsSetup parts;
        parts.view = view.get();
        parts.engine = engine.get();
        parts.help = &help;
        parts.inkwellMode = inkwell;
        parts.hostOctets = {"10", "1", "2"};
        parts.startupClock = clockOverride;
        parts.commands = &commands;
        parts.startIcmpProbe = [this](std::shared_ptr<ProbeRequest> r) {
            probes.push_back(r);
            if ((probes.size() == 1 && addressInUse) || (probes.size() > 1 && finalProbeAnswers)) r->Report(1);
            if (probes.size() == 1 && addressUnchecked)
                r->ReportUnchecked(static_cast<std::int32_t>(IcmpAnswer::NotPermitted));
            return true;
        };
        parts.socketWorks = [this] { return socketWorks; };
        commandsUnderTest = std::make_unique<WindowCommands>(std::move(parts));

        clock.afterSleep = [this](std::int64_t now) {
            const int stage = engine->Shared().stage.load();
            if (handedOverAt < 0 && stage == StageAwaitRequest) handedOverAt = now;
            for (const auto& [at, raised] : schedule)
                if (handedOverAt >= 0 && now - handedOverAt >= at && engine->Shared().stage.load() >= 0 &&
                    engine->Shared().stage.load() < raised)
                    SetStage(engine->Shared(), raised);
            if (watch) watch(now);
        };
        window.show();
    }
    ~WorkflowBench()
    {
        commandsUnderTest.reset();
        model->Detach();
        SetHelpContextSource(nullptr);
    }

    // A listed server; the list shows it once the queued change is applied.
    void AddServer(const std::string& serial, const std::string& current)
    {
        {
            std::lock_guard<std::mutex> guard(engine->Shared().stateLock);
            engine->Table().SetAddress(engine->Table().InsertServer(serial), current);
        }
        engine->Shared().awaitingFirstServer.store(false);
        QCoreApplication::processEvents();
    }
    void Select(int row)
    {
        list->selectionModel()->clearSelection();
        if (row >= 0)
            list->selectionModel()->select(model->index(row, 0),
                                           QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
    void TypeAddress(std::array<std::uint8_t, 4> bytes) { address->SetAddress(bytes.data()); }
    std::vector<int> BoxIds() const
    {
        std::vector<int> ids;
        for (const auto& b : boxes.boxes()) ids.push_back(b.textId);
        return ids;
    }
    std::string LogText() const
    {
        QFile file(QString::fromStdString(logPath));
        file.open(QIODevice::ReadOnly);
        return file.readAll().toStdString();
    }
    WindowCommands& Commands() { return *commandsUnderTest; }
    bool InputsEnabled() const { return setIp->isEnabled(); }

    tessel::testing::HookClock clock;
    QTemporaryDir dir;
    std::string logPath;
    HelpContext help;
    std::unique_ptr<EngineHost> engine;
    QDialog window;
    QTreeView* list = nullptr;
    ServerListItemModel* model = nullptr;
    CIPAddrCtl* address = nullptr;
    QLineEdit* status = nullptr;
    QPushButton* closeButton = nullptr;
    CAnimateCtrl* animation = nullptr;
    QWidget* step2 = nullptr;
    QPushButton* setIp = nullptr;
    std::unique_ptr<QtMainWindowView> view;
    tessel::testing::RecordingCommands commands;
    ScriptedMessageBoxes boxes;
    std::vector<std::shared_ptr<ProbeRequest>> probes;
    bool addressInUse = false, finalProbeAnswers = false, socketWorks = true;
    bool addressUnchecked = false;  // the first probe could not look (no permission for ICMP)
    std::vector<std::string> registered;
    std::int64_t endedAt = -1, handedOverAt = -1;
    std::vector<std::pair<std::int64_t, int>> schedule;  // time after the hand-over, stage
    std::function<void(std::int64_t)> watch;
    std::unique_ptr<WindowCommands> commandsUnderTest;
};

}  // namespace tessel::testing
