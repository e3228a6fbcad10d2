// The program's help: one window with the topic of a help context number,
// from pages built into the program, so help works without a browser or a
// network. A number without a topic opens the contents page.
#pragma once

#include <QDialog>
#include <QUrl>

class QTextBrowser;

namespace tessel {

class HelpViewer final : public QDialog {
    Q_OBJECT
public:
    explicit HelpViewer(QWidget* parent = nullptr);

    void ShowTopic(int helpContext);
    QTextBrowser* Browser() const { return m_pBrowser; }

    // Where the topic of a help context number lies; the contents page when
    // there is no topic of that number.
    static QUrl TopicUrl(int helpContext);
    static QUrl ContentsUrl();

private:
    QTextBrowser* m_pBrowser;
};

// Opens the topic in the program's one help window, making it on first use.
void ShowHelp(int helpContext);
HelpViewer* HelpWindow();  // null until help was first shown

}  // namespace tessel
