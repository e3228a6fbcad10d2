#include "cli/terminal_front_end.h"

#include <unistd.h>

#include <algorithm>
#include <optional>
#include <vector>

#include "engine/shared_state.h"

namespace tessel::cli {

namespace {
constexpr int kBarWidth = 30;

// Lines of the boxes that only a window can follow (a key, a button, the
// next dialog), and what a terminal says instead; nothing where the
// terminal prints its own line after the box (the --yes and --unchecked
// notes, the home page).
struct WindowLine {
    const char* window;
    const char* terminal;
};
constexpr WindowLine kWindowLines[] = {
    {"Press F1 for more help.", nullptr},
    {"Please press F1 now for more information and help!", "The support logfile tells each step that was tried."},
    {"Click Cancel to enter another ending of the desired IP address.", nullptr},
    {"Click OK to continue setting the IP address.", nullptr},
    {"Next dialog will launch it with this server's home page for you.", nullptr},
    {"Do you want to set the IP address without this check?", nullptr},
};

// The line as the terminal says it; nothing for a line it leaves out.
std::optional<std::string> TerminalLine(const std::string& line)
{
    for (const WindowLine& known : kWindowLines)
        if (line == known.window)
            return known.terminal != nullptr ? std::optional<std::string>(known.terminal) : std::nullopt;
    return line;
}
}  // namespace

std::string BoxTextForTerminal(int boxId)
{
    // Line by line, without the blanks that end them in the window; a line
    // dropped leaves no blank line behind it at the end.
    std::vector<std::string> lines;
    const std::string text = TextOf(boxId);
    for (std::size_t start = 0; start <= text.size();) {
        const std::size_t end = std::min(text.find('\n', start), text.size());
        const std::string line = text.substr(start, end - start);
        if (auto said = TerminalLine(line.substr(0, line.find_last_not_of(' ') + 1))) lines.push_back(*said);
        start = end + 1;
    }
    while (!lines.empty() && lines.back().empty()) lines.pop_back();
    std::string out;
    for (std::size_t i = 0; i < lines.size(); ++i) out += (i ? "\n" : "") + lines[i];
    return out;
}

std::string StageHeadline(int textId)
{
    const std::string text = TextOf(textId);
    const std::string first = text.substr(0, text.find('\n'));
    const auto begin = first.find_first_not_of(' ');
    return begin == std::string::npos ? first : first.substr(begin);
}

TerminalFrontEnd::TerminalFrontEnd(std::string serial, Ipv4Bytes address, bool confirmReservedEnding, std::FILE* out,
                                   bool goOnUnchecked)
    : m_serial(std::move(serial)), m_address(address), m_confirm(confirmReservedEnding), m_unchecked(goOnUnchecked),
      m_out(out), m_tty(::isatty(::fileno(out)) != 0)
{}

MsgAnswer TerminalAnswer(const BoxStyle& box, bool confirmReservedEnding, bool goOnUnchecked)
{
    if (box.id == IDS_RESERVED_ENDING) return confirmReservedEnding ? MsgAnswer::Ok : MsgAnswer::Cancel;
    if (box.id == IDS_NOT_CHECKED) return goOnUnchecked ? MsgAnswer::Yes : MsgAnswer::No;
    return box.buttons == MsgButtons::YesNo ? MsgAnswer::No : MsgAnswer::Ok;
}

MsgAnswer TerminalFrontEnd::ShowBox(const BoxStyle& box)
{
    m_lastBox = box.id;
    std::fprintf(m_out, "\n%s\n", BoxTextForTerminal(box.id).c_str());
    const MsgAnswer answer = TerminalAnswer(box, m_confirm, m_unchecked);
    if (box.id == IDS_RESERVED_ENDING) {
        std::fprintf(m_out, "%s\n", m_confirm ? "(--yes given: continuing)" : "(cancelled: give --yes to continue)");
    } else if (box.id == IDS_NOT_CHECKED) {
        std::fprintf(m_out, "%s\n",
                     m_unchecked ? "(--unchecked given: continuing without the check)"
                                 : "(refused: give --unchecked to set the address without the check)");
    } else if (box.id == IDS_OFFER_BROWSER) {
        std::fprintf(m_out, "(no browser is started here) Home page: http://%s/\n", FormatAddress(m_address).c_str());
    }
    std::fflush(m_out);
    return answer;
}

void TerminalFrontEnd::OpenValidating()
{
    std::fprintf(m_out, "Validating... (checking that %s is not used by any host on the network)\n",
                 FormatAddress(m_address).c_str());
    std::fflush(m_out);
}

void TerminalFrontEnd::OpenStage(int textId)
{
    m_text = textId;
    m_bar = 0;
    m_printedText = -1;
    // After a confirmed store the last wait is only the final check: no
    // "Retrying..." after "Saving...".
    m_finalCheck = textId == IDS_STAGE_RETRYING && m_highestStage && m_highestStage() >= StageStored;
    if (textId != IDS_STAGE_RETRYING) std::fprintf(m_out, "%s\n", kSettingTitle);
    Draw();
}

void TerminalFrontEnd::SetStageText(int textId)
{
    m_text = textId;
}

void TerminalFrontEnd::SetBar(int position)
{
    m_bar = position;
}

void TerminalFrontEnd::Repaint()
{
    Draw();
}

void TerminalFrontEnd::CloseStage()
{
    Draw();
    if (m_tty) std::fputc('\n', m_out);
    std::fflush(m_out);
}

void TerminalFrontEnd::LaunchBrowser(const std::string& address)
{
    std::fprintf(m_out, "Home page: http://%s/\n", address.c_str());
}

void TerminalFrontEnd::Draw()
{
    const std::string headline = m_finalCheck ? "Checking..." : StageHeadline(m_text);
    if (m_tty) {
        const int filled = m_bar * kBarWidth / 100;
        std::fprintf(m_out, "\r[%s%s] %3d%%  %-16s", std::string(static_cast<std::size_t>(filled), '#').c_str(),
                     std::string(static_cast<std::size_t>(kBarWidth - filled), '.').c_str(), m_bar, headline.c_str());
    } else if (m_text != m_printedText) {
        if (m_finalCheck)
            std::fprintf(m_out, "Checking that the server answers at %s...\n", FormatAddress(m_address).c_str());
        else
            std::fprintf(m_out, "%s\n", headline.c_str());
        m_printedText = m_text;
    }
    std::fflush(m_out);
}

}  // namespace tessel::cli
