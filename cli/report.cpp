#include "cli/report.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <ctime>
#include <iterator>

#include "cli/exit_status.h"
#include "engine/shared_state.h"

namespace tessel::cli {

namespace {

std::string UtcTime(std::chrono::system_clock::time_point when)
{
    const std::time_t seconds = std::chrono::system_clock::to_time_t(when);
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(when.time_since_epoch()).count() % 1000;
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char text[40];
    const std::size_t n = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
    std::snprintf(text + n, sizeof text - n, ".%03dZ", static_cast<int>(ms));
    return text;
}

}  // namespace

namespace {

// The length of the UTF-8 sequence that starts at text[i] and is shown as it
// is: a printable character, not a C1 control; 0 when it must be escaped.
std::size_t PrintableSequence(const std::string& text, std::size_t i)
{
    const auto byte = [&text](std::size_t at) { return static_cast<unsigned char>(text[at]); };
    const unsigned char lead = byte(i);
    if (lead >= 0x20 && lead < 0x7f) return 1;
    const std::size_t length = lead >= 0xc2 && lead <= 0xdf   ? 2
                               : lead >= 0xe0 && lead <= 0xef ? 3
                               : lead >= 0xf0 && lead <= 0xf4 ? 4
                                                              : 0;
    if (length == 0 || i + length > text.size()) return 0;
    char32_t code = lead & (0x7f >> length);
    for (std::size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xc0) != 0x80) return 0;
        code = (code << 6) | (byte(i + k) & 0x3f);
    }
    // Overlong forms, surrogates, beyond Unicode, and the C1 controls.
    static constexpr char32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < kLeast[length] || (code >= 0xd800 && code <= 0xdfff) || code > 0x10ffff || code < 0xa0) return 0;
    return length;
}

}  // namespace

std::string ShownText(const std::string& text, std::size_t limit)
{
    std::string out;
    std::size_t i = 0;
    for (; i < text.size() && i < limit;) {
        const char c = text[i];
        if (c == '\\') {
            out += "\\\\";
            ++i;
        } else if (const std::size_t n = PrintableSequence(text, i); n > 0) {
            out.append(text, i, n);
            i += n;
        } else {
            static constexpr const char* kNamed[] = {"\\0",   nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                                     nullptr, nullptr, "\\t",   "\\n",   nullptr, nullptr, "\\r"};
            const auto u = static_cast<unsigned char>(c);
            if (u < std::size(kNamed) && kNamed[u] != nullptr) {
                out += kNamed[u];
            } else {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\x%02x", u);
                out += escaped;
            }
            ++i;
        }
    }
    if (i < text.size()) out += "... (" + std::to_string(text.size()) + " bytes)";
    return out;
}

std::string JsonText(const std::string& text)
{
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size();) {
        const char c = text[i];
        const auto u = static_cast<unsigned char>(c);
        const std::size_t n = u < 0x80 ? 0 : PrintableSequence(text, i);
        char escaped[8];
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (u < 0x20 || u == 0x7f) {
            std::snprintf(escaped, sizeof escaped, "\\u%04x", u);
            out += escaped;
        } else if (u < 0x80) {
            out += c;
        } else if (n > 0) {
            out.append(text, i, n);
            i += n;
            continue;
        } else if (u == 0xc2 && i + 1 < text.size() && (static_cast<unsigned char>(text[i + 1]) & 0xe0) == 0x80) {
            // A C1 control, well formed: JSON's own escape.
            std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned char>(text[i + 1]));
            out += escaped;
            i += 2;
            continue;
        } else {
            // Not UTF-8 (a ledger edited by hand, a damaged file): JSON
            // cannot carry the byte, so it is told as the text "\xNN".
            std::snprintf(escaped, sizeof escaped, "\\\\x%02x", u);
            out += escaped;
        }
        ++i;
    }
    return out + "\"";
}

std::string ExitStatusHelp()
{
    // The commands' column is as wide as its widest entry, and a long
    // meaning wraps under itself, so no row runs into the next.
    std::size_t width = 0;
    for (const ExitStatusRow& row : kExitStatusTable) width = std::max(width, std::strlen(row.commands));
    const std::size_t indent = 8 + width;
    constexpr std::size_t kLineWidth = 100;
    std::string text = "Exit status:\n";
    for (const ExitStatusRow& row : kExitStatusTable) {
        std::string line = std::to_string(row.code);
        line.insert(0, 5 - std::min<std::size_t>(line.size(), 3), ' ');
        line += "  ";
        line += row.commands;
        line.append(indent - line.size(), ' ');
        std::size_t column = line.size();
        std::string_view rest = row.meaning;
        while (!rest.empty()) {
            std::size_t cut = rest.size();
            if (column + cut > kLineWidth) {
                const std::size_t blank = rest.rfind(' ', kLineWidth - column);
                cut = blank == std::string_view::npos || blank == 0 ? rest.find(' ') : blank;
                if (cut == std::string_view::npos) cut = rest.size();
            }
            line += rest.substr(0, cut);
            rest.remove_prefix(std::min(rest.size(), cut + 1));
            if (!rest.empty()) {
                line += "\n" + std::string(indent, ' ');
                column = indent;
            }
        }
        text += line + "\n";
    }
    return text;
}

SetExit ExitForSet(const SetIpOutcome& outcome, const std::string& address)
{
    if (outcome.refused) {
        if (outcome.refusingBox == IDS_SAME_ADDRESS)
            return {kExitAlreadySet, "The server already has " + address + "; nothing was sent."};
        if (outcome.refusingBox == IDS_NOT_CHECKED) return {outcome.checkNotSent ? kExitNotSent : kExitNotChecked, {}};
        return {kExitRefused, {}};
    }
    switch (outcome.result) {
    case StageStored:
        return {kExitOk, {}};
    case StageVerified:
        // Found at the address by the final check, yet no store confirmed:
        // scripts tell this from an address that failed to store.
        if (!outcome.finalAnswered) return {kExitUntilRestart, {}};
        return {kExitUnconfirmed, "answers at " + address + "; storing it permanently was not confirmed"};
    case StageAwaitRequest:
        return {kExitNoRequest, {}};
    default:
        return {kExitNotVerified, {}};
    }
}

std::string InterruptedStateLine(int stage, const std::string& serial, const std::string& address)
{
    const std::string server = "server " + serial;
    switch (stage) {
    case StageReplied:
    case StageRestarting:
        return "Interrupted after the reply: " + server + " may be restarting with " + address +
               "; it was not verified, and the address is not stored permanently.";
    case StageVerifying:
        return "Interrupted: " + server + " may have taken " + address +
               " until it restarts (not verified); the address is not stored permanently.";
    case StageVerified:
        return "Interrupted: " + server + " answers at " + address +
               " until it restarts; storing the address permanently was not confirmed.";
    case StageStored:
        return "Interrupted: " + server + " answers at " + address + " and has stored it permanently.";
    default:
        return "Interrupted: nothing was sent to " + server + "; it keeps the address it had.";
    }
}

std::string JsonServerLine(const std::string& serial, const std::string& address,
                           std::chrono::system_clock::time_point heard)
{
    return "{\"serial\":" + JsonText(serial) + ",\"address\":" + JsonText(address) +
           ",\"heard\":" + JsonText(UtcTime(heard)) + "}";
}

std::string JsonSummaryLine(int servers, bool interrupted, int otherInterface)
{
    return "{\"summary\":{\"servers\":" + std::to_string(servers) +
           ",\"ended\":" + JsonText(interrupted ? "interrupted" : "time limit") +
           (otherInterface >= 0 ? ",\"other_interface\":" + std::to_string(otherInterface) : std::string()) + "}}";
}

std::string OtherInterfaceLine(int requests)
{
    return std::to_string(requests) + (requests == 1 ? " request" : " requests") + " on other interfaces " +
           (requests == 1 ? "was" : "were") + " not heard.";
}

}  // namespace tessel::cli
