#include "Platform/Workspace/DesktopEntry.h"

#include "Platform/Workspace/KeyFile.h"

#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

namespace platform {

namespace {

const QString kGroup = QStringLiteral("Desktop Entry");
const QString kDomain = QStringLiteral("DesktopEntry");

struct Token {
    QString text;
    bool quoted = false;
};

// Splits an Exec value into arguments. Inside double quotes only \" \` \$ \\ are escapes; a
// backslash outside quotes takes the next character literally (lenient: the rules ask for
// quoting there, but entries in the wild escape instead).
Result<QList<Token>> tokenize(const QString& exec)
{
    QList<Token> tokens;
    Token current;
    bool inToken = false;
    for (qsizetype i = 0; i < exec.size(); ++i) {
        const QChar c = exec[i];
        if (c == QLatin1Char(' ') || c == QLatin1Char('\t') || c == QLatin1Char('\n')) {
            if (inToken)
                tokens.append(current);
            current = Token();
            inToken = false;
            continue;
        }
        inToken = true;
        if (c == QLatin1Char('"')) {
            current.quoted = true;
            bool closed = false;
            for (++i; i < exec.size(); ++i) {
                const QChar q = exec[i];
                if (q == QLatin1Char('"')) {
                    closed = true;
                    break;
                }
                if (q == QLatin1Char('\\') && i + 1 < exec.size()
                    && QStringView(u"\"`$\\").contains(exec[i + 1])) {
                    current.text += exec[++i];
                    continue;
                }
                current.text += q;
            }
            if (!closed)
                return fail(kDomain, 1, QStringLiteral("Exec has an unterminated quote: %1").arg(exec));
            continue;
        }
        if (c == QLatin1Char('\\') && i + 1 < exec.size()) {
            current.text += exec[++i];
            continue;
        }
        current.text += c;
    }
    if (inToken)
        tokens.append(current);
    if (tokens.isEmpty())
        return fail(kDomain, 2, QStringLiteral("Exec is empty"));
    return tokens;
}

bool isExecutableFile(const QString& path)
{
    const QFileInfo info(path);
    return info.isFile() && info.isExecutable();
}

QString localized(const KeyFile& file, const QString& key, const QStringList& languages)
{
    for (const QString& lang : languages) {
        const QString v = file.value(kGroup, QStringLiteral("%1[%2]").arg(key, lang));
        if (!v.isNull())
            return KeyFile::unescape(v);
    }
    return KeyFile::unescape(file.value(kGroup, key));
}

bool boolValue(const KeyFile& file, const QString& key)
{
    return file.value(kGroup, key).trimmed() == QLatin1String("true");
}

} // namespace

Result<DesktopEntry> DesktopEntry::read(const QString& path, const QString& id,
                                        const QStringList& languages)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return fail(kDomain, 3, QStringLiteral("Cannot read %1: %2").arg(path, file.errorString()));
    return parse(file.readAll(), path, id, languages);
}

Result<DesktopEntry> DesktopEntry::parse(const QByteArray& data, const QString& path,
                                         const QString& id, const QStringList& languages)
{
    const KeyFile file = KeyFile::parse(data);
    if (!file.hasGroup(kGroup))
        return fail(kDomain, 4, QStringLiteral("%1 has no [Desktop Entry] group").arg(path));
    DesktopEntry entry;
    entry.id = id;
    entry.path = path;
    entry.name = localized(file, QStringLiteral("Name"), languages);
    entry.genericName = localized(file, QStringLiteral("GenericName"), languages);
    entry.exec = KeyFile::unescape(file.value(kGroup, QStringLiteral("Exec")));
    entry.tryExec = KeyFile::unescape(file.value(kGroup, QStringLiteral("TryExec")));
    entry.icon = localized(file, QStringLiteral("Icon"), languages);
    entry.mimeTypes = KeyFile::splitList(file.value(kGroup, QStringLiteral("MimeType")));
    for (QString& m : entry.mimeTypes)
        m = m.trimmed().toLower();
    entry.noDisplay = boolValue(file, QStringLiteral("NoDisplay"));
    entry.hidden = boolValue(file, QStringLiteral("Hidden"));
    entry.terminal = boolValue(file, QStringLiteral("Terminal"));
    entry.isApplication = file.value(kGroup, QStringLiteral("Type")).trimmed() == QLatin1String("Application");
    return entry;
}

bool DesktopEntry::isUsable() const
{
    if (!isApplication || hidden || exec.trimmed().isEmpty())
        return false;
    if (tryExec.isEmpty())
        return true;
    if (tryExec.startsWith(QLatin1Char('/')))
        return isExecutableFile(tryExec);
    return !QStandardPaths::findExecutable(tryExec).isEmpty();
}

Result<QStringList> DesktopEntry::execArguments() const
{
    auto tokens = tokenize(exec);
    if (!tokens)
        return std::unexpected(tokens.error());
    QStringList args;
    for (const Token& t : *tokens)
        args.append(t.text);
    return args;
}

Result<QList<QStringList>> DesktopEntry::commandLines(const QStringList& filesOrUrls) const
{
    return expand(filesOrUrls, nullptr);
}

Result<QStringList> DesktopEntry::commandLineWithArguments(const QStringList& arguments) const
{
    auto lines = expand({}, &arguments);
    if (!lines)
        return std::unexpected(lines.error());
    return lines->first();
}

Result<QList<QStringList>> DesktopEntry::expand(const QStringList& files, const QStringList* insert) const
{
    auto tokens = tokenize(exec);
    if (!tokens)
        return std::unexpected(tokens.error());

    // Which file code the line uses decides how many command lines the files make.
    bool single = false;
    bool hasFileCode = false;
    for (const Token& t : *tokens) {
        if (t.quoted)
            continue;
        if (t.text == QLatin1String("%F") || t.text == QLatin1String("%U"))
            hasFileCode = true;
        for (qsizetype i = 0; i + 1 < t.text.size(); ++i) {
            if (t.text[i] != QLatin1Char('%'))
                continue;
            const QChar code = t.text[++i]; // skips the second "%" of "%%" too
            if (code == QLatin1Char('f') || code == QLatin1Char('u'))
                single = hasFileCode = true;
        }
    }

    // One command line over the given files (all of them, or the one of this line).
    auto build = [&](const QStringList& these) -> QStringList {
        QStringList argv;
        bool placed = false;
        auto place = [&](QStringList& out) {
            if (insert)
                out += *insert;
            else
                out += these;
            placed = true;
        };
        for (const Token& t : *tokens) {
            if (t.quoted) {
                argv.append(QString(t.text).replace(QLatin1String("%%"), QLatin1String("%")));
                continue;
            }
            const QString& s = t.text;
            if (s == QLatin1String("%f") || s == QLatin1String("%u") || s == QLatin1String("%F")
                || s == QLatin1String("%U")) {
                if (!placed)
                    place(argv);
                continue;
            }
            if (s == QLatin1String("%i")) {
                if (!icon.isEmpty())
                    argv << QStringLiteral("--icon") << icon;
                continue;
            }
            QString out;
            bool drop = false;
            for (qsizetype i = 0; i < s.size(); ++i) {
                if (s[i] != QLatin1Char('%') || i + 1 == s.size()) {
                    out += s[i];
                    continue;
                }
                const QChar code = s[++i];
                switch (code.unicode()) {
                case '%': out += QLatin1Char('%'); break;
                case 'c': out += name; break;
                case 'k': out += path; break;
                case 'f':
                case 'u':
                    // Part of a longer argument ("--open=%u"): only a single file fits there.
                    if (!insert && these.size() == 1 && !placed) {
                        out += these.first();
                        placed = true;
                    } else {
                        drop = true;
                    }
                    break;
                default: break; // deprecated and unknown codes expand to nothing
                }
            }
            // A code that expands to nothing takes its argument with it.
            if (!drop && !out.isEmpty())
                argv.append(out);
        }
        if (!placed && (insert || !hasFileCode)) {
            if (insert)
                argv += *insert;
            else
                argv += these;
        }
        return argv;
    };

    QList<QStringList> lines;
    if (single && !insert && files.size() > 1) {
        for (const QString& f : files)
            lines.append(build({f}));
    } else {
        lines.append(build(files));
    }
    for (const QStringList& l : lines)
        if (l.isEmpty() || l.first().isEmpty())
            return fail(kDomain, 2, QStringLiteral("Exec names no program: %1").arg(exec));
    return lines;
}

QStringList DesktopEntry::localeCandidates(const QString& locale)
{
    QString rest = locale.trimmed();
    if (rest.isEmpty() || rest == QLatin1String("C") || rest == QLatin1String("POSIX")
        || rest.startsWith(QLatin1String("C.")))
        return {};
    QString modifier;
    const qsizetype at = rest.indexOf(QLatin1Char('@'));
    if (at >= 0) {
        modifier = rest.mid(at + 1);
        rest.truncate(at);
    }
    const qsizetype dot = rest.indexOf(QLatin1Char('.'));
    if (dot >= 0)
        rest.truncate(dot);
    QString lang = rest, country;
    const qsizetype us = rest.indexOf(QLatin1Char('_'));
    if (us >= 0) {
        lang = rest.left(us);
        country = rest.mid(us + 1);
    }
    if (lang.isEmpty())
        return {};
    QStringList c;
    if (!country.isEmpty() && !modifier.isEmpty())
        c << QStringLiteral("%1_%2@%3").arg(lang, country, modifier);
    if (!country.isEmpty())
        c << QStringLiteral("%1_%2").arg(lang, country);
    if (!modifier.isEmpty())
        c << QStringLiteral("%1@%2").arg(lang, modifier);
    c << lang;
    return c;
}

QStringList DesktopEntry::languagesFromEnvironment()
{
    QStringList locales = qEnvironmentVariable("LANGUAGE").split(QLatin1Char(':'), Qt::SkipEmptyParts);
    for (const char* var : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const QString v = qEnvironmentVariable(var);
        if (!v.isEmpty()) {
            locales.append(v);
            break;
        }
    }
    QStringList result;
    for (const QString& l : locales)
        for (const QString& c : localeCandidates(l))
            if (!result.contains(c))
                result.append(c);
    return result;
}

} // namespace platform
