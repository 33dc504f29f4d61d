#include "HostOptions.h"

#include <ZimBase64t.h>

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QRegularExpression>
#include <algorithm>
#include <cmath>

namespace orvHost {

namespace {

ZIM_TR_CONTEXT("orvhost")

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

bool parseStandardView(const QString& text, int* view)
{
    static const QRegularExpression digit(QStringLiteral("^[0-5]$"));
    const QString t = text.trimmed();
    if (!digit.match(t).hasMatch()) return false;
    if (view) *view = t.toInt();
    return true;
}

bool parseViewSize(const QString& text, QSize* size)
{
    // Digits only (no signs, no spaces inside); long runs of digits cannot be a side in range.
    static const QRegularExpression form(QStringLiteral("^(\\d{1,5})[xX](\\d{1,5})$"));
    const QRegularExpressionMatch m = form.match(text.trimmed());
    if (!m.hasMatch()) return false;
    const int w = m.captured(1).toInt();
    const int h = m.captured(2).toInt();
    if (w < MinBackupSide || w > MaxBackupSide || h < MinBackupSide || h > MaxBackupSide) return false;
    if (size) *size = QSize(w, h);
    return true;
}

QSize paintViewSize(const QSize& photoSize)
{
    if (photoSize.width() <= 0 || photoSize.height() <= 0) return QSize();
    const int longSide = std::max(photoSize.width(), photoSize.height());
    const double scale = double(std::min(longSide, MaxPaintViewSide)) / longSide;
    const auto side = [scale](int n) { return std::max(MinBackupSide, int(std::lround(n * scale))); };
    return QSize(side(photoSize.width()), side(photoSize.height()));
}

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
    bool save = false;
    bool paint = false;
    for (int i = 1; i < args.size(); ++i) {
        const QString& arg = args[i];
        if (arg == QLatin1String("--")) break;
        if (!isOption(arg)) continue;
        const QString name = optionName(arg);
        if (name == QLatin1String("create") || name == QLatin1String("map") || name == QLatin1String("apply-backup") ||
            name == QLatin1String("help") || name == QLatin1String("help-all") || name == QLatin1String("version") ||
            arg == QLatin1String("-h") || arg == QLatin1String("-v") || arg == QLatin1String("-?"))
            return true;
        if (name == QLatin1String("save")) save = true;
        if (name == QLatin1String("paint")) paint = true;
    }
    // --save goes with the window-less runs, but a paint draws its backup in a window first.
    return save && !paint;
}

bool parseHostOptions(const QStringList& args, HostOptions* out, QString* error)
{
    auto fail = [&](const QString& why) {
        if (error) *error = why;
        return false;
    };
    QCommandLineParser parser;
    parser.setApplicationDescription(
        tr("Shows a project of textured meshes and their photographs, or writes one (--create); --backup saves "
           "the picture of the textures the 3D view shows; --paint paints a mapped photo onto the textures."));
    const QCommandLineOption helpOpt = parser.addHelpOption();
    const QCommandLineOption versionOpt = parser.addVersionOption();
    const QCommandLineOption screenshotOpt(QStringLiteral("screenshot"),
                                           tr("Show the window, save a picture of it to FILE and exit."), tr("FILE"));
    const QCommandLineOption createOpt(
        QStringLiteral("create"), tr("Write a new project file from --meshes and --photos and exit."), tr("PROJECT"));
    const QCommandLineOption meshesOpt(QStringLiteral("meshes"),
                                       tr("OBJ meshes of --create (mesh i goes with photo i)."), tr("OBJ..."));
    const QCommandLineOption photosOpt(QStringLiteral("photos"), tr("Photographs of --create, one per mesh."),
                                       tr("PHOTO..."));
    const QCommandLineOption labelsOpt(QStringLiteral("labels"), tr("Labels of the meshes of --create, one per mesh."),
                                       tr("LABEL..."));
    const QCommandLineOption backupOpt(
        QStringLiteral("backup"),
        tr("Open PROJECT, save the backup picture of the textures the 3D view shows to FILE and exit."), tr("FILE"));
    const QCommandLineOption viewOpt(QStringLiteral("view"),
                                     tr("With --backup: look from standard view N (0 top, 1 bottom, 2 front, 3 back, "
                                        "4 left, 5 right) at all meshes; by default from where the project opens."),
                                     tr("N"));
    const QCommandLineOption sizeOpt(QStringLiteral("size"),
                                     tr("With --backup: the 3D view's size in pixels (%1 to %2 a side, default %3x%4).")
                                         .arg(MinBackupSide)
                                         .arg(MaxBackupSide)
                                         .arg(DefaultBackupWidth)
                                         .arg(DefaultBackupHeight),
                                     tr("WxH"));
    const QCommandLineOption mapOpt(
        QStringLiteral("map"),
        tr("Open PROJECT, map photo N (its image index, from 0) or every photo with enough marks (all) from the "
           "photos' marks without a window, print one line per photo and exit: 0 when every photo asked for was "
           "mapped, 3 when the project cannot be opened or has no photo N, 4 when a photo could not be mapped, "
           "5 when --save failed."),
        tr("N|all"));
    const QCommandLineOption paintOpt(
        QStringLiteral("paint"),
        tr("Open PROJECT, take the backup of the view through mapped photo N (its image index, from 0) and paint "
           "the photo onto the textures of the meshes it sees, print what changed and exit: 0 when painted, "
           "3 when the project, photo N or the mask is missing, 4 when nothing was painted (the photo is not "
           "mapped, it sees no texture, ...), 5 when --save failed, 2 for a bad command line."),
        tr("N"));
    const QCommandLineOption noColourMatchOpt(
        QStringLiteral("no-colour-match"),
        tr("With --paint: paint the photo's colours as they are, without fitting them to the textures first."));
    const QCommandLineOption maskOpt(
        QStringLiteral("mask"),
        tr("With --paint: a greyscale picture over the photo (scaled to it); only where it is light is painted."),
        tr("M.png"));
    const QCommandLineOption applyBackupOpt(
        QStringLiteral("apply-backup"),
        tr("Open PROJECT and map the change between the backup picture --backup-of and its edited copy EDITED "
           "back onto the textures without a window, print what changed and exit: 0 when applied, 3 when the "
           "project or a picture is missing, 4 when the picture is refused (its records are missing or belong "
           "to another picture or project), 5 when --save failed, 2 for a bad command line."),
        tr("EDITED.png"));
    const QCommandLineOption backupOfOpt(
        QStringLiteral("backup-of"),
        tr("With --apply-backup: the backup picture as it was saved, with its records beside it."), tr("ORIGINAL.png"));
    const QCommandLineOption saveOpt(
        QStringLiteral("save"),
        tr("With --map, --paint or --apply-backup: save the project (and the changed textures into its data "
           "folder) when something changed."));
    parser.addOptions({screenshotOpt, backupOpt, viewOpt, sizeOpt, createOpt, meshesOpt, photosOpt, labelsOpt, mapOpt,
                       paintOpt, noColourMatchOpt, maskOpt, applyBackupOpt, backupOfOpt, saveOpt});
    parser.addPositionalArgument(QStringLiteral("project"), tr("Project file to open (.orvproj)."), tr("[PROJECT]"));

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
        if (parser.isSet(backupOpt)) return fail(tr("--backup cannot be combined with --create"));
        if (parser.isSet(mapOpt) || parser.isSet(saveOpt)) return fail(tr("--map cannot be combined with --create"));
        for (const QCommandLineOption* other : {&paintOpt, &noColourMatchOpt, &maskOpt, &applyBackupOpt, &backupOfOpt})
            if (parser.isSet(*other))
                return fail(tr("--%1 cannot be combined with --create").arg(other->names().first()));
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
    // The options that belong to one run only.
    const bool paintOnly = parser.isSet(noColourMatchOpt) || parser.isSet(maskOpt);
    if (paintOnly && !parser.isSet(paintOpt)) return fail(tr("--no-colour-match and --mask belong to --paint"));
    if (parser.isSet(backupOfOpt) && !parser.isSet(applyBackupOpt))
        return fail(tr("--backup-of belongs to --apply-backup"));
    if (parser.isSet(mapOpt)) {
        o.mode = HostMode::Map;
        if (parser.values(mapOpt).size() > 1) return fail(tr("--map is given more than once"));
        for (const QCommandLineOption* other :
             {&screenshotOpt, &backupOpt, &viewOpt, &sizeOpt, &paintOpt, &applyBackupOpt})
            if (parser.isSet(*other)) return fail(tr("--%1 cannot be combined with --map").arg(other->names().first()));
        if (o.project.isEmpty()) return fail(tr("--map needs a project file to open"));
        static const QRegularExpression index(QStringLiteral("^\\d{1,9}$"));
        const QString which = parser.value(mapOpt).trimmed();
        if (which == QLatin1String("all"))
            o.mapAll = true;
        else if (index.match(which).hasMatch())
            o.mapIndex = which.toInt();
        else
            return fail(tr("--map takes a photo's index from 0 or \"all\", not \"%1\"").arg(parser.value(mapOpt)));
        o.save = parser.isSet(saveOpt);
        *out = o;
        return true;
    }
    if (parser.isSet(paintOpt)) {
        o.mode = HostMode::Paint;
        for (const QCommandLineOption* once : {&paintOpt, &maskOpt})
            if (parser.values(*once).size() > 1)
                return fail(tr("--%1 is given more than once").arg(once->names().first()));
        for (const QCommandLineOption* other : {&screenshotOpt, &backupOpt, &viewOpt, &sizeOpt, &applyBackupOpt})
            if (parser.isSet(*other))
                return fail(tr("--%1 cannot be combined with --paint").arg(other->names().first()));
        if (o.project.isEmpty()) return fail(tr("--paint needs a project file to open"));
        static const QRegularExpression index(QStringLiteral("^\\d{1,9}$"));
        const QString which = parser.value(paintOpt).trimmed();
        if (!index.match(which).hasMatch())
            return fail(tr("--paint takes a photo's index from 0, not \"%1\"").arg(parser.value(paintOpt)));
        o.paintIndex = which.toInt();
        o.colourMatch = !parser.isSet(noColourMatchOpt);
        if (parser.isSet(maskOpt)) {
            o.mask = parser.value(maskOpt);
            if (o.mask.isEmpty()) return fail(tr("--mask needs a file name"));
        }
        o.save = parser.isSet(saveOpt);
        *out = o;
        return true;
    }
    if (parser.isSet(applyBackupOpt)) {
        o.mode = HostMode::ApplyBackup;
        for (const QCommandLineOption* once : {&applyBackupOpt, &backupOfOpt})
            if (parser.values(*once).size() > 1)
                return fail(tr("--%1 is given more than once").arg(once->names().first()));
        for (const QCommandLineOption* other : {&screenshotOpt, &backupOpt, &viewOpt, &sizeOpt})
            if (parser.isSet(*other))
                return fail(tr("--%1 cannot be combined with --apply-backup").arg(other->names().first()));
        if (o.project.isEmpty()) return fail(tr("--apply-backup needs a project file to open"));
        o.editedBackup = parser.value(applyBackupOpt);
        if (o.editedBackup.isEmpty()) return fail(tr("--apply-backup needs the edited picture's file name"));
        if (!parser.isSet(backupOfOpt) || parser.value(backupOfOpt).isEmpty())
            return fail(tr("--apply-backup needs --backup-of with the backup picture as it was saved"));
        o.backupOf = parser.value(backupOfOpt);
        o.save = parser.isSet(saveOpt);
        *out = o;
        return true;
    }
    if (parser.isSet(saveOpt)) return fail(tr("--save belongs to --map, --paint and --apply-backup"));
    if (parser.isSet(screenshotOpt)) {
        o.screenshot = parser.value(screenshotOpt);
        if (o.screenshot.isEmpty()) return fail(tr("--screenshot needs a file name"));
    }
    if (!parser.isSet(backupOpt)) {
        if (parser.isSet(viewOpt) || parser.isSet(sizeOpt)) return fail(tr("--view and --size belong to --backup"));
        *out = o;
        return true;
    }

    o.mode = HostMode::Backup;
    if (parser.isSet(screenshotOpt)) return fail(tr("--backup cannot be combined with --screenshot"));
    for (const QCommandLineOption* once : {&backupOpt, &viewOpt, &sizeOpt})
        if (parser.values(*once).size() > 1) return fail(tr("--%1 is given more than once").arg(once->names().first()));
    o.backup = parser.value(backupOpt);
    if (o.backup.isEmpty()) return fail(tr("--backup needs a file name"));
    if (o.project.isEmpty()) return fail(tr("--backup needs a project file to open"));
    if (parser.isSet(viewOpt) && !parseStandardView(parser.value(viewOpt), &o.view))
        return fail(tr("--view takes a standard view from 0 to 5 (0 top, 1 bottom, 2 front, 3 back, 4 left, "
                       "5 right), not \"%1\"")
                        .arg(parser.value(viewOpt)));
    if (parser.isSet(sizeOpt) && !parseViewSize(parser.value(sizeOpt), &o.viewSize))
        return fail(tr("--size takes WIDTHxHEIGHT in pixels with each side from %1 to %2, not \"%3\"")
                        .arg(MinBackupSide)
                        .arg(MaxBackupSide)
                        .arg(parser.value(sizeOpt)));
    *out = o;
    return true;
}

}  // namespace orvHost
