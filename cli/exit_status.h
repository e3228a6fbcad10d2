// Every exit status of tessel-cli in one table: the usage text prints it,
// and scripts rely on the numbers, so a number is never given a second
// meaning. A new status takes a free number and a row here.
#pragma once

#include <string>

namespace tessel::cli {

enum ExitStatus : int {
    kExitOk = 0,                // done; set: the server confirmed the permanent store
    kExitUntilRestart = 1,      // set: the address holds until the server restarts
    kExitNotDone = 1,           // probe, store: not answered, not stored
    kExitNotVerified = 2,       // set: replied, but the server was not found at the address
    kExitNoRequest = 3,         // set: the server did not ask for an address in time
    kExitUnconfirmed = 4,       // set: the server answers at the address, no store was confirmed
    kExitAlreadySet = 5,        // set: the server already has this address; nothing was done
    kExitNoLedger = 6,          // status: there is no ledger (serve has written none there)
    kExitUsage = 64,            // the command line is wrong
    kExitRefused = 65,          // set: the address was refused (reserved, or in use)
    kExitNoInput = 66,          // status: the ledger cannot be read
    kExitPortUnavailable = 69,  // UDP port 67 could not be taken
    kExitNoThread = 71,         // plan: a job could not be started (the system gave no thread)
    kExitCantCreate = 73,       // serve: the ledger cannot be written
    kExitNotSent = 74,          // probe icmp, set: the ICMP echo request could not be sent (not a permission matter)
    kExitLedgerInUse = 75,      // serve: another serve keeps the same ledger
    kExitNotChecked = 77,       // probe icmp, set: the ICMP check could not be made (no permission)
    kExitInterrupted = 130,     // Ctrl+C (128 + the signal; 143 for termination)
};

struct ExitStatusRow {
    int code;
    const char* commands;
    const char* meaning;
};

inline constexpr ExitStatusRow kExitStatusTable[] = {
    {kExitOk, "all",
     "done; set: the server confirmed that it stored the address permanently; plan: every server did; serve: stopped on request"},
    {kExitUntilRestart, "set, plan", "the address is set until the server restarts (storing it failed)"},
    {kExitNotDone, "probe, store", "not answered, not stored"},
    {kExitNotVerified, "set, plan", "the reply went out, but the server was not found at the address"},
    {kExitNoRequest, "set, plan", "the server did not ask for an address within --seconds"},
    {kExitUnconfirmed, "set, plan", "the server answers at the address; storing it permanently was not confirmed"},
    {kExitAlreadySet, "set, plan", "the server already has this address; nothing was sent"},
    {kExitNoLedger, "status", "there is no ledger at that path: serve has written none there (yet)"},
    {kExitUsage, "all", "wrong command line"},
    {kExitRefused, "set, plan, serve",
     "address refused: 0.0.0.0, the broadcast address, one no server can be reached at "
     "(0.x, 127.x, 224.x and above), the network or broadcast address of a network where "
     "servers are heard, an ending 0, 1 or 255 "
     "without --yes, or another device already answers at it; plan, serve: the plan file "
     "was refused"},
    {kExitNoInput, "status", "the ledger is there but cannot be read, or is not a regular file"},
    {kExitPortUnavailable, "list, set, plan, serve", "UDP port 67 is in use or not permitted"},
    {kExitNoThread, "plan", "a server's job could not be started: the system refused a thread (a thread limit)"},
    {kExitCantCreate, "serve",
     "the ledger could not be opened for writing or locked (--ledger, or /var/lib/tessel/), or is not a regular file"},
    {kExitNotSent, "probe icmp, set, plan",
     "the ICMP echo request could not be sent (the system refused it: no route to the address, ...): "
     "probe icmp knows nothing of the address; set was not given --unchecked"},
    {kExitLedgerInUse, "serve",
     "another tessel-cli serve keeps the same ledger (--ledger); one serve at a time may keep a ledger"},
    {kExitNotChecked, "probe icmp, set, plan",
     "the ICMP check could not be made (no permission for ICMP): "
     "probe icmp knows nothing of the address; set was not given --unchecked"},
    {kExitInterrupted, "list, set, plan",
     "ended by a signal: 128 + its number (130 Ctrl+C, 129 hang-up, 143 termination); "
     "list prints what it heard and its summary first"},
};

// The table as the usage text prints it.
std::string ExitStatusHelp();

}  // namespace tessel::cli
