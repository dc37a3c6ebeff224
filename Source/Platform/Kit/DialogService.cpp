#include "Platform/Kit/DialogService.h"

#include "Platform/Kit/Sheet.h"
#include "Platform/Kit/WindowCloseWatcher.h"

#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QScreen>

namespace platform::kit {

namespace {

DialogService*& installed()
{
    static DialogService* service = nullptr;
    return service;
}

// "pdf" → "*.[pP][dD][fF]": file names on Linux are matched case-sensitively, and a document
// called REPORT.PDF must not be hidden from a panel that asks for PDF files.
QString anyCaseGlob(const QString& suffix)
{
    QString glob = QStringLiteral("*.");
    for (const QChar c : suffix) {
        const QChar lower = c.toLower();
        const QChar upper = c.toUpper();
        if (lower == upper)
            glob += c;
        else
            glob += QLatin1Char('[') + lower + upper + QLatin1Char(']');
    }
    return glob;
}

// A file dialog that answers exactly once: with the chosen paths when accepted, empty when
// cancelled or destroyed unanswered (its window went away).
class PanelDialog : public QFileDialog {
public:
    using Answer = std::function<void(const QStringList&)>;

    PanelDialog(QWidget* parent, Answer answer)
        : QFileDialog(parent)
        , m_answer(std::move(answer))
    {
    }
    ~PanelDialog() override { answer({}); }

    // Files and folders both allowed: pressing the accept button on a folder chooses it (a
    // double click still opens it), which a plain file dialog would only open.
    void setFoldersChosenToo(bool foldersToo) { m_foldersToo = foldersToo; }

    void accept() override
    {
        if (m_foldersToo) {
            const QStringList chosen = selectedFiles();
            const bool allExist = !chosen.isEmpty()
                && std::all_of(chosen.begin(), chosen.end(), [](const QString& p) { return QFileInfo::exists(p); });
            const bool anyFolder = std::any_of(chosen.begin(), chosen.end(), [](const QString& p) { return QFileInfo(p).isDir(); });
            if (allExist && anyFolder) {
                done(QDialog::Accepted);
                return;
            }
        }
        QFileDialog::accept();
    }

    void done(int result) override
    {
        const QStringList chosen = result == QDialog::Accepted ? selectedFiles() : QStringList();
        QFileDialog::done(result);
        deleteLater();
        answer(chosen);
    }

private:
    void answer(const QStringList& paths)
    {
        if (!m_answer)
            return;
        auto answer = std::move(m_answer);
        m_answer = nullptr;
        answer(paths);
    }

    Answer m_answer;
    bool m_foldersToo = false;
};

void applyCommon(QFileDialog* dialog, const QString& title, const QString& prompt, const QString& directory,
                 const QStringList& suffixes)
{
    dialog->setWindowTitle(title);
    if (!prompt.isEmpty())
        dialog->setLabelText(QFileDialog::Accept, prompt);
    if (!directory.isEmpty())
        dialog->setDirectory(directory);
    if (!suffixes.isEmpty()) {
        QStringList globs;
        for (const QString& suffix : suffixes)
            globs.append(anyCaseGlob(suffix));
        dialog->setNameFilter(QStringLiteral("(%1)").arg(globs.join(QLatin1Char(' '))));
    }
}

// Window-modal over a window; application-modal without one (QDialog::open() would make it
// window-modal to nothing).
void present(QDialog* dialog, QWidget* window)
{
    if (window) {
        dialog->open();
        return;
    }
    dialog->setWindowModality(Qt::ApplicationModal);
    dialog->show();
}

} // namespace

DialogService& DialogService::shared()
{
    // Stateless, so a static of its own is safe to outlive everything else.
    static QtDialogService real;
    return installed() ? *installed() : real;
}

DialogService* DialogService::install(DialogService* service)
{
    return std::exchange(installed(), service);
}

void QtDialogService::alert(QWidget* window, const Alert& alert, Alert::Completion completion)
{
    if (window)
        alert.beginSheet(window, std::move(completion));
    else
        alert.open(QApplication::activeWindow(), std::move(completion));
}

void QtDialogService::beginSheet(QWidget* window, Sheet& sheet, std::function<void(int)> completion)
{
    sheet.begin(window, std::move(completion));
}

void QtDialogService::openPanel(QWidget* window, const OpenPanelOptions& options,
                                std::function<void(const QStringList& paths)> completion)
{
    auto* dialog = new PanelDialog(window ? window->window() : nullptr, std::move(completion));
    applyCommon(dialog, options.title, options.prompt, options.directory, options.allowedSuffixes);
    dialog->setAcceptMode(QFileDialog::AcceptOpen);
    if (options.canChooseDirectories && !options.canChooseFiles) {
        dialog->setFileMode(QFileDialog::Directory);
        dialog->setOption(QFileDialog::ShowDirsOnly);
    } else {
        dialog->setFileMode(options.allowsMultipleSelection ? QFileDialog::ExistingFiles : QFileDialog::ExistingFile);
        if (options.canChooseDirectories) {
            // The desktop's own dialog cannot choose both; ours can.
            dialog->setOption(QFileDialog::DontUseNativeDialog);
            dialog->setFoldersChosenToo(true);
        }
    }
    present(dialog, window);
}

void QtDialogService::savePanel(QWidget* window, const SavePanelOptions& options,
                                std::function<void(const QString& path)> completion)
{
    auto* dialog = new PanelDialog(window ? window->window() : nullptr,
                                   [completion = std::move(completion)](const QStringList& paths) {
                                       if (completion)
                                           completion(paths.value(0));
                                   });
    applyCommon(dialog, options.title, options.prompt, options.directory, options.allowedSuffixes);
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setFileMode(QFileDialog::AnyFile);
    dialog->setOption(QFileDialog::ReadOnly, !options.canCreateDirectories);
    if (!options.allowedSuffixes.isEmpty())
        dialog->setDefaultSuffix(options.allowedSuffixes.first());
    if (!options.nameFieldStringValue.isEmpty())
        dialog->selectFile(options.nameFieldStringValue);
    present(dialog, window);
}

void QtDialogService::runModalWindow(QWidget* window, QWidget* parent, std::function<void()> closed)
{
    if (!window) {
        whenWindowCloses(nullptr, std::move(closed));
        return;
    }
    // The modality of a shown window changes only when it is shown again.
    if (window->isVisible())
        window->hide();
    window->setWindowModality(Qt::ApplicationModal);
    if (parent && parent->window() != window) {
        QRect frame = window->frameGeometry();
        frame.moveCenter(parent->window()->frameGeometry().center());
        window->move(frame.topLeft());
    }
    whenWindowCloses(window, std::move(closed));
    window->show();
    window->raise();
    window->activateWindow();
}

} // namespace platform::kit
