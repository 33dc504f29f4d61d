#include "HostOptions.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QCoreApplication>

namespace orvHost {

namespace {

QString tr(const char* text) { return QCoreApplication::translate("orvhost", text); }

const QStringList& listOptionNames()
{
    static const QStringList names = {QStringLiteral("meshes"), QStringLiteral("photos"), QStringLiteral("labels")};
    return names;
}

bool isOption(const QString& arg) { return arg.size() > 1 && arg.startsWith(QLatin1Char('-')); }

// "--name" or "-name" -> "name"; "--name=value" -> "name".
QString optionName(const QString& arg)
{
    QString name = arg.mid(arg.startsWith(QLatin1String("--")) ? 2 : 1);
    const int eq = name.indexOf(QLatin1Char('='));
    return eq < 0 ? name : name.left(eq);
}

}  // namespace

QStringList expandListOptions(const QStringList& args, const QStringList& listOptions)
{
    QStringList out;
    QString current;  // the list option being read, empty when none
    bool rest = false;
    for (int i = 0; i < args.size(); ++i) {
        const QString& arg = args[i];
        if (i == 0 || rest) {
            out << arg;
            continue;
        }
        if (arg == QLatin1String("--")) {
            rest = true;
            current.clear();
            out << arg;
            continue;
        }
        if (isOption(arg)) {
            const QString name = optionName(arg);
            current = listOptions.contains(name) ? name : QString();
            out << arg;
            // The first value follows the option itself (unless given with "="), as the parser
            // expects.
            if (!current.isEmpty() && !arg.contains(QLatin1Char('=')) && i + 1 < args.size() &&
                !isOption(args[i + 1]) && args[i + 1] != QLatin1String("--"))
                out << args[++i];
            continue;
        }
        if (!current.isEmpty()) out << QStringLiteral("--") + current;
        out << arg;
    }
    return out;
}

bool wantsNoWindow(const QStringList& args)
{
    for (int i = 1; i < args.size(); ++i) {
        const QString& arg = args[i];
        if (arg == QLatin1String("--")) break;
        if (!isOption(arg)) continue;
        const QString name = optionName(arg);
        if (name == QLatin1String("create") || name == QLatin1String("help") || name == QLatin1String("help-all") ||
            name == QLatin1String("version") || arg == QLatin1String("-h") || arg == QLatin1String("-v") ||
            arg == QLatin1String("-?"))
            return true;
    }
    return false;
}

bool parseHostOptions(const QStringList& args, HostOptions* out, QString* error)
{
    auto fail = [&](const QString& why) {
        if (error) *error = why;
        return false;
    };
    QCommandLineParser parser;
    parser.setApplicationDescription(
        tr("Shows a project of textured meshes and their photographs, or writes one (--create)."));
    const QCommandLineOption helpOpt = parser.addHelpOption();
    const QCommandLineOption versionOpt = parser.addVersionOption();
    const QCommandLineOption screenshotOpt(QStringLiteral("screenshot"),
                                           tr("Show the window, save a picture of it to FILE and exit."), tr("FILE"));
    const QCommandLineOption createOpt(QStringLiteral("create"),
                                       tr("Write a new project file from --meshes and --photos and exit."),
                                       tr("PROJECT"));
    const QCommandLineOption meshesOpt(QStringLiteral("meshes"), tr("OBJ meshes of --create (mesh i goes with photo i)."),
                                       tr("OBJ..."));
    const QCommandLineOption photosOpt(QStringLiteral("photos"), tr("Photographs of --create, one per mesh."),
                                       tr("PHOTO..."));
    const QCommandLineOption labelsOpt(QStringLiteral("labels"), tr("Labels of the meshes of --create, one per mesh."),
                                       tr("LABEL..."));
    parser.addOptions({screenshotOpt, createOpt, meshesOpt, photosOpt, labelsOpt});
    parser.addPositionalArgument(QStringLiteral("project"), tr("Project file to open (.orvproj)."),
                                 tr("[PROJECT]"));

    if (!parser.parse(expandListOptions(args, listOptionNames()))) return fail(parser.errorText());

    HostOptions o;
    if (parser.isSet(helpOpt) || parser.isSet(QStringLiteral("help-all"))) {
        o.mode = HostMode::Help;
        o.helpText = parser.helpText();
        *out = o;
        return true;
    }
    if (parser.isSet(versionOpt)) {
        o.mode = HostMode::Version;
        *out = o;
        return true;
    }

    const QStringList positional = parser.positionalArguments();
    o.meshes = parser.values(meshesOpt);
    o.photos = parser.values(photosOpt);
    o.labels = parser.values(labelsOpt);
    const bool lists = parser.isSet(meshesOpt) || parser.isSet(photosOpt) || parser.isSet(labelsOpt);

    if (parser.isSet(createOpt)) {
        o.mode = HostMode::Create;
        const QStringList targets = parser.values(createOpt);
        if (targets.size() > 1) return fail(tr("--create is given more than once"));
        o.project = targets.first();
        if (o.project.isEmpty()) return fail(tr("--create needs a project file name"));
        if (!positional.isEmpty())
            return fail(tr("unexpected argument with --create: %1 (list the files after --meshes and --photos)")
                            .arg(positional.first()));
        if (parser.isSet(screenshotOpt)) return fail(tr("--screenshot cannot be combined with --create"));
        if (o.meshes.isEmpty()) return fail(tr("--create needs at least one mesh after --meshes"));
        if (o.photos.size() != o.meshes.size())
            return fail(tr("--create pairs mesh i with photo i: %1 meshes but %2 photos")
                            .arg(o.meshes.size())
                            .arg(o.photos.size()));
        if (!o.labels.isEmpty() && o.labels.size() != o.meshes.size())
            return fail(tr("--labels gives %1 labels for %2 meshes").arg(o.labels.size()).arg(o.meshes.size()));
        *out = o;
        return true;
    }

    if (lists) return fail(tr("--meshes, --photos and --labels belong to --create"));
    if (positional.size() > 1) return fail(tr("one project at a time: unexpected argument %1").arg(positional[1]));
    o.mode = HostMode::Window;
    if (!positional.isEmpty()) o.project = positional.first();
    if (parser.isSet(screenshotOpt)) {
        o.screenshot = parser.value(screenshotOpt);
        if (o.screenshot.isEmpty()) return fail(tr("--screenshot needs a file name"));
    }
    *out = o;
    return true;
}

}  // namespace orvHost
