// The support logfile's fixed event catalogue: codes -11 to 24 and 26.
// Code writers name events by these constants; the texts stand once, in
// events.cpp.
#pragma once

namespace tessel {

enum LogEvent : int {
    // The neighbour table is changed in-process here, so its failure is
    // known and logged; the Windows "arp" command's never was.
    EvNeighbourTableFailed = -11,
    EvFtpWriteFailed = -10,
    EvFtpOpenFailed = -9,
    EvFtpNotFound = -8,
    EvTransmissionFailed = -7,
    EvBroadcastOptionFailed = -6,
    EvReceiveClosed = -5,
    EvReceiveError = -4,
    EvBindFailed = -3,
    EvSocketInvalid = -2,
    EvSocketStartupFailed = -1,
    EvRequestReceived = 0,
    EvSerialNumber = 1,
    EvNotMerrowServer = 2,
    EvCheckingList = 3,
    EvNewServer = 4,
    EvSelectedServerRequest = 5,
    EvReplyByBroadcast = 6,
    EvReplySent = 7,
    EvWaitingForRestart = 8,
    EvRestartWaitFinished = 9,
    EvCheckingTemporary = 10,
    EvCheckingTemporaryFinished = 11,
    EvTemporarySuccess = 12,
    EvHttpStoreStarted = 13,
    EvHttpStoreFinished = 14,
    EvPermanentSuccess = 15,
    EvFtpStoreStarted = 16,
    EvFtpConnectFailed = 17,
    EvFtpConnected = 18,
    EvFtpFileName = 19,
    EvFtpFileOpened = 20,
    EvFtpStoreFinished = 21,
    EvThreadsClosed = 22,
    EvCurrentAddressFound = 23,
    EvNotPrintServer = 24,
    EvPrintServer = 26,
};

// The catalogue text of a code, "Unknown" for a code outside it.
const char* EventText(int code);

// True for the eight codes whose line carries the writer's value.
bool EventTakesValue(int code);

}  // namespace tessel
