// CQelApp: the application object. Start-up creates the main frame and
// processes the command line:
//   qel                          one empty document
//   qel FILE...                  opens the files (start-up fails when none can be read)
//   qel --print FILE             prints FILE on the default printer and ends
//   qel --print-to TARGET FILE   prints FILE on the printer named TARGET, or into TARGET when it ends in .pdf
#pragma once

#include <QApplication>
#include <QIcon>
#include <QStringList>
#include <memory>

class CMainFrame;

// The desktop entry's id: the window system matches windows to the entry (and its icon) by it.
inline constexpr const char* kDesktopFileName = "io.github.qel_editor.Qel";

// The icon installed into the desktop's icon theme under the entry's id; the icons bundled with the
// program when the theme has none (not installed, or run from the build tree).
QIcon applicationIcon();

class CQelApp : public QApplication {
    Q_OBJECT
public:
    CQelApp(int& argc, char** argv);
    ~CQelApp() override;

    enum class StartResult { Run, Done, Failed };
    // Start-up: main frame, command line, show. Run: enter the event loop; Done: a print switch finished;
    // Failed: the program ends with a failure status.
    StartResult initInstance();

    // Processes the arguments (without the program name) on a main frame.
    static StartResult processCommandLine(CMainFrame& frame, const QStringList& arguments);
    // Opens a file in a document of its own and prints it; false when it cannot be read or printed.
    static bool printFile(const QString& path, const QString& target);

private:
    std::unique_ptr<CMainFrame> mainFrame_;
};
