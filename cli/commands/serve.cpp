// tessel-cli serve: the service a site leaves running (cli/serve_run.*).
#include "cli/command.h"
#include "cli/exit_status.h"
#include "cli/serve_run.h"

namespace tessel::cli {

namespace {

int RunServeCommand(const std::vector<std::string>& args)
{
    ServeArguments serve;
    const std::string error = ParseServe(args, serve);
    if (!error.empty()) return UsageError("serve", error);
    // The start and --check refuse alike; an interface that is only missing
    // now is waited for (told once), as at boot it may come up late.
    if (const std::string problem = ServeInterfaceProblem(serve); !problem.empty()) return UsageError("serve", problem);
    if (serve.check) return CheckServePlan(serve);
    return RunServe(serve);
}

}  // namespace

extern const Command kServeCommand = {
    "serve",
    "  serve PLAN [--check] [--parallel N] [--yes] [--unchecked] [--ledger PATH]\n"
    "       [--all] [--print-servers-only] [--interface NAME]\n"
    "       [--logfile PATH] [--logfile-off]\n",
    "        Run until stopped, as a site runs its DHCP server: every server\n"
    "        of PLAN (as for plan) that asks gets its whole assignment as set\n"
    "        gives it, up to --parallel at once, and again whenever it asks\n"
    "        again (reset, or replaced by a new one); servers not in the plan\n"
    "        are never answered, only counted (the first 16 told as heard, the\n"
    "        count once a minute). A server whose job failed, or that asks again\n"
    "        within a minute of its job, is not answered for a while: 30 s,\n"
    "        doubling with each such time up to 15 min, told once each time.\n"
    "        Each job's outcome is one line of the ledger (--ledger PATH;\n"
    "        default /var/lib/tessel/ledger), synced as it is written and\n"
    "        compacted past 8 MiB; one serve at a time keeps a ledger (a\n"
    "        second exits 75). tessel-cli status reads it. The logfile is\n"
    "        appended to, each line dated. SIGHUP reads PLAN again (a refused\n"
    "        plan is told with its lines and the running one kept; running\n"
    "        jobs go on) and opens the ledger and the logfile anew when they\n"
    "        were renamed. SIGTERM or Ctrl+C: running jobs stop at their next\n"
    "        safe step, each one's state is told; exit 0. Under systemd each\n"
    "        line carries its syslog priority, and READY=1 and STATUS= go to\n"
    "        the service manager (tessel-serve.service).\n"
    "        --check       check what the start checks and exit as it would: 0;\n"
    "                      65 with every refused line; 73 ledger not writable\n"
    "        --interface NAME  as for list; missing, it is waited for (told once)\n"
    "        --parallel N, --yes, --unchecked  as for plan\n",
    true,
    RunServeCommand,
};

}  // namespace tessel::cli
