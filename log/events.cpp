#include "log/events.h"

namespace tessel {

const char* EventText(int code)
{
    switch (code) {
    case EvNeighbourTableFailed:
        return "ARP table entry could not be changed for IP-address ";
    case EvFtpWriteFailed:
        return "FTP config file could not be written to";
    case EvFtpOpenFailed:
        return "FTP config file could not be opened";
    case EvFtpNotFound:
        return "FTP config file was not found on the server";
    case EvTransmissionFailed:
        return "However transmission failed";
    case EvBroadcastOptionFailed:
        return "Socketoption broadcast allowed failed";
    case EvReceiveClosed:
        return "Socket receive error because it was closed";
    case EvReceiveError:
        return "Socket receive error";
    case EvBindFailed:
        return "Socket already in use (bind failed)";
    case EvSocketInvalid:
        return "Socket invalid";
    case EvSocketStartupFailed:
        return "Socket startup failed";
    case EvRequestReceived:
        return "Received BOOTP/DHCP request from server with IP-address ";
    case EvSerialNumber:
        return "Serialnumber ";
    case EvNotMerrowServer:
        return "Not an MERROW-server";
    case EvCheckingList:
        return "Checking if already in list";
    case EvNewServer:
        return "New server, so add to list";
    case EvSelectedServerRequest:
        return "Request from the selected server";
    case EvReplyByBroadcast:
        return "Send reply using broadcast (because no IP-address yet)";
    case EvReplySent:
        return "Sent BOOTP/DHCP reply with desired IP-address ";
    case EvWaitingForRestart:
        return "Waiting for server to restart";
    case EvRestartWaitFinished:
        return "Wait for server restart finished";
    case EvCheckingTemporary:
        return "Checking if temporary IP-setting was set using HTTP/ICMP";
    case EvCheckingTemporaryFinished:
        return "Checking if temporary IP-setting was set finished";
    case EvTemporarySuccess:
        return "Success setting temporary IP-address ";
    case EvHttpStoreStarted:
        return "Trying to set permanent IP-address using HTTP started";
    case EvHttpStoreFinished:
        return "Trying to set permanent IP-address using HTTP finished";
    case EvPermanentSuccess:
        return "Success setting permanent IP-address ";
    case EvFtpStoreStarted:
        return "Trying to set permanent IP-address using FTP started";
    case EvFtpConnectFailed:
        return "FTP connection failed (could depend on password etc)";
    case EvFtpConnected:
        return "FTP connected";
    case EvFtpFileName:
        return "FTP config file name is ";
    case EvFtpFileOpened:
        return "FTP config file opened";
    case EvFtpStoreFinished:
        return "Trying to set permanent IP-address using FTP finished";
    case EvThreadsClosed:
        return "All network threads were closed nicely";
    case EvCurrentAddressFound:
        return "Correct current IP address was found to be ";
    case EvNotPrintServer:
        return "Not a print server";
    case EvPrintServer:
        return "This is a print server";
    default:
        return "Unknown";
    }
}

bool EventTakesValue(int code)
{
    switch (code) {
    case EvRequestReceived:
    case EvSerialNumber:
    case EvReplySent:
    case EvTemporarySuccess:
    case EvPermanentSuccess:
    case EvFtpFileName:
    case EvCurrentAddressFound:
    case EvNeighbourTableFailed:
        return true;
    default:
        return false;
    }
}

}  // namespace tessel
