// The Set-IP command's boxes and progress windows on a terminal: boxes are
// printed with their text and answered by the command line (box 123 only
// with --yes, box 144 only with --unchecked; the browser offer with no,
// printing the home page instead);
// progress is a bar on a terminal and plain lines otherwise.
#pragma once

#include <cstdio>
#include <functional>
#include <string>

#include "workflow/set_ip_command.h"

namespace tessel::cli {

class TerminalFrontEnd final : public SetIpFrontEnd {
public:
    TerminalFrontEnd(std::string serial, Ipv4Bytes address, bool confirmReservedEnding, std::FILE* out,
                     bool goOnUnchecked = false);

    MsgAnswer ShowBox(const BoxStyle& box) override;
    std::optional<Ipv4Bytes> ReadAddress() override { return m_address; }
    void FocusField(int) override {}
    std::optional<std::string> SelectedSerial() override { return m_serial; }
    void SetWaitCursor(bool) override {}
    void OpenValidating() override;
    void CloseValidating() override {}
    void OpenStage(int textId) override;
    void SetStageText(int textId) override;
    void SetBar(int position) override;
    void Repaint() override;
    void CloseStage() override;
    void LaunchBrowser(const std::string& address) override;
    void RegisterNewServer(const std::string&) override {}
    void CloseProgram() override {}

    // The last box shown, for the exit status and the final message.
    int LastBox() const { return m_lastBox; }

    // The highest stage the network thread reached, told by the clock.
    void FollowStage(std::function<int()> highestStage) { m_highestStage = std::move(highestStage); }

private:
    void Draw();

    std::string m_serial;
    Ipv4Bytes m_address;
    bool m_confirm;
    bool m_unchecked;
    std::FILE* m_out;
    bool m_tty;
    int m_text = 0;
    int m_bar = 0;
    int m_printedText = -1;
    int m_lastBox = 0;
    std::function<int()> m_highestStage;
    bool m_finalCheck = false;  // the last wait after a confirmed store
};

// How a terminal answers a box: box 123 with --yes, box 144 with
// --unchecked, every other question with No (the browser offer) and every
// notice with OK.
MsgAnswer TerminalAnswer(const BoxStyle& box, bool confirmReservedEnding, bool goOnUnchecked);

// A box's text as the terminal prints it: its lines without the blanks
// that end them in the window, and the terminal's own words for what only
// a window can follow ("Press F1", "Click Cancel").
std::string BoxTextForTerminal(int boxId);

// The first line of a stage text, without its leading blanks.
std::string StageHeadline(int textId);

}  // namespace tessel::cli
