// orv-sample: writes the deterministic sample project (see SampleGenerator.h), turns it into a
// project file, sample.orvproj, beside the manifest (unless --no-project), and says what it
// holds.
#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLocale>
#include <QRegularExpression>
#include <cmath>
#include <cstdio>
#include <limits>

#include "SampleGenerator.h"
#include "SampleProject.h"

namespace {

ZIM_TR_CONTEXT("orv-sample")

void printLine(FILE* stream, const QString& text)
{
    const QByteArray bytes = text.toLocal8Bit();
    std::fprintf(stream, "%s\n", bytes.constData());
    std::fflush(stream);
}

int fail(const QString& message)
{
    printLine(stderr, QStringLiteral("orv-sample: %1").arg(message));
    return 1;
}

bool parseInt(const QString& text, qint64 lo, qint64 hi, qint64* out)
{
    bool ok = false;
    const qlonglong v = text.trimmed().toLongLong(&ok);
    if (!ok || v < lo || v > hi) return false;
    *out = v;
    return true;
}

bool parseNumber(const QString& text, double* out)
{
    bool ok = false;
    const double v = QLocale::c().toDouble(text.trimmed(), &ok);
    if (!ok || !std::isfinite(v)) return false;
    *out = v;
    return true;
}

QString humanBytes(qint64 bytes)
{
    if (bytes < 1024) return tr("%1 bytes").arg(bytes);
    if (bytes < 1024 * 1024) return tr("%1 KiB").arg(bytes / 1024.0, 0, 'f', 1);
    if (bytes < 1024ll * 1024 * 1024) return tr("%1 MiB").arg(bytes / (1024.0 * 1024.0), 0, 'f', 1);
    return tr("%1 GiB").arg(bytes / (1024.0 * 1024.0 * 1024.0), 0, 'f', 2);
}

}  // namespace

int main(int argc, char** argv)
{
    // Only QPainter on images is used: no display is needed unless the caller chose a platform.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("orv-sample"));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        tr("Writes a deterministic sample project: textured terrain tiles (OBJ, MTL, PNG), one perspective "
           "photo of each tile with its true camera and marks, and manifest.json."));
    parser.addHelpOption();
    const orvsample::SampleOptions defaults;
    const QCommandLineOption outOpt(QStringLiteral("out"), tr("Output folder (default: sample)."), tr("DIR"),
                                    QStringLiteral("sample"));
    const QCommandLineOption tilesOpt(QStringLiteral("tiles"),
                                      tr("Number of tiles, %1 to %2 (default: %3).")
                                          .arg(orvsample::kMinTiles)
                                          .arg(orvsample::kMaxTiles)
                                          .arg(defaults.tiles),
                                      tr("N"));
    const QCommandLineOption trianglesOpt(QStringLiteral("triangles"),
                                          tr("Triangles of all tiles together, %1 to %2 (default: %3).")
                                              .arg(orvsample::kMinTriangles)
                                              .arg(orvsample::kMaxTriangles)
                                              .arg(defaults.trianglesTotal),
                                          tr("T"));
    const QCommandLineOption photoOpt(
        QStringLiteral("photo-size"),
        tr("Photo size in pixels (default: %1x%2).").arg(defaults.photoSize.width()).arg(defaults.photoSize.height()),
        tr("WxH"));
    const QCommandLineOption textureOpt(
        QStringLiteral("texture-size"),
        tr("Edge of the square tile textures in pixels (default: %1).").arg(defaults.textureSize), tr("N"));
    const QCommandLineOption seedOpt(QStringLiteral("seed"),
                                     tr("Seed, 0 to 4294967295 (default: %1).").arg(defaults.seed), tr("S"));
    const QCommandLineOption quietOpt(QStringLiteral("quiet"), tr("Print nothing but errors."));
    const QCommandLineOption noProjectOpt(QStringLiteral("no-project"),
                                          tr("Write the files and the manifest only, no sample.orvproj."));
    const QCommandLineOption marksOpt(QStringLiteral("marks"),
                                      tr("Marks per photo, %1 to %2 (default: %3).")
                                          .arg(orvsample::kMinMarks)
                                          .arg(orvsample::kMaxMarks)
                                          .arg(defaults.marks),
                                      tr("N"));
    const QCommandLineOption markNoiseOpt(
        QStringLiteral("mark-noise"),
        tr("Click noise of the marks, standard deviation in photo pixels (default: %1; 0 for exact marks).")
            .arg(defaults.markNoise),
        tr("S"));
    const QCommandLineOption ppOpt(QStringLiteral("pp-offset"),
                                   tr("Moves the principal point away from the photo centre by this fraction of "
                                      "the photo size, 0 to %1 (default: 0).")
                                       .arg(orvsample::kMaxPpOffset),
                                   tr("F"));
    const QCommandLineOption distortionOpt(QStringLiteral("distortion"),
                                           tr("Radial lens distortion k1,k2 (default: 0,0)."), tr("K1,K2"));
    const QCommandLineOption noEffectsOpt(
        QStringLiteral("no-photo-effects"),
        tr("Exact renders: no exposure or white-balance change, vignetting, blur or sensor noise."));
    const QCommandLineOption unmappedOpt(
        QStringLiteral("unmapped"),
        tr("Leaves the last N photos of the project unmapped, for a user to map (default: 0)."), tr("N"));
    parser.addOptions({outOpt, tilesOpt, trianglesOpt, photoOpt, textureOpt, seedOpt, marksOpt, markNoiseOpt, ppOpt,
                       distortionOpt, noEffectsOpt, unmappedOpt, quietOpt, noProjectOpt});
    if (!parser.parse(QCoreApplication::arguments())) return fail(parser.errorText());
    if (parser.isSet(QStringLiteral("help")) || parser.isSet(QStringLiteral("help-all"))) parser.showHelp(0);
    if (!parser.positionalArguments().isEmpty())
        return fail(tr("unexpected argument: %1").arg(parser.positionalArguments().first()));

    orvsample::SampleOptions options;
    options.outDir = parser.value(outOpt);
    qint64 v = 0;
    // Numbers are only checked for being numbers here; their ranges are the generator's to judge,
    // so the messages match whichever way the generator is called.
    const qint64 intMax = std::numeric_limits<int>::max(), intMin = std::numeric_limits<int>::min();
    if (parser.isSet(tilesOpt)) {
        if (!parseInt(parser.value(tilesOpt), intMin, intMax, &v))
            return fail(tr("--tiles needs a whole number, not \"%1\"").arg(parser.value(tilesOpt)));
        options.tiles = int(v);
    }
    if (parser.isSet(trianglesOpt)) {
        if (!parseInt(parser.value(trianglesOpt), intMin, intMax, &v))
            return fail(tr("--triangles needs a whole number, not \"%1\"").arg(parser.value(trianglesOpt)));
        options.trianglesTotal = int(v);
    }
    if (parser.isSet(photoOpt)) {
        const QRegularExpression re(QStringLiteral("^\\s*(\\d{1,9})\\s*[xX]\\s*(\\d{1,9})\\s*$"));
        const QRegularExpressionMatch m = re.match(parser.value(photoOpt));
        if (!m.hasMatch())
            return fail(tr("--photo-size needs WIDTHxHEIGHT, e.g. 4000x3000, not \"%1\"").arg(parser.value(photoOpt)));
        options.photoSize = QSize(m.captured(1).toInt(), m.captured(2).toInt());
    }
    if (parser.isSet(textureOpt)) {
        if (!parseInt(parser.value(textureOpt), intMin, intMax, &v))
            return fail(tr("--texture-size needs a whole number, not \"%1\"").arg(parser.value(textureOpt)));
        options.textureSize = int(v);
    }
    if (parser.isSet(seedOpt)) {
        if (!parseInt(parser.value(seedOpt), 0, std::numeric_limits<quint32>::max(), &v))
            return fail(tr("--seed needs a whole number from 0 to 4294967295, not \"%1\"").arg(parser.value(seedOpt)));
        options.seed = quint32(v);
    }
    if (parser.isSet(marksOpt)) {
        if (!parseInt(parser.value(marksOpt), intMin, intMax, &v))
            return fail(tr("--marks needs a whole number, not \"%1\"").arg(parser.value(marksOpt)));
        options.marks = int(v);
    }
    double number = 0;
    if (parser.isSet(markNoiseOpt)) {
        if (!parseNumber(parser.value(markNoiseOpt), &number))
            return fail(tr("--mark-noise needs a number, not \"%1\"").arg(parser.value(markNoiseOpt)));
        options.markNoise = number;
    }
    if (parser.isSet(ppOpt)) {
        if (!parseNumber(parser.value(ppOpt), &number))
            return fail(tr("--pp-offset needs a number, not \"%1\"").arg(parser.value(ppOpt)));
        options.ppOffset = number;
    }
    if (parser.isSet(distortionOpt)) {
        const QStringList parts = parser.value(distortionOpt).split(QLatin1Char(','));
        double k1 = 0, k2 = 0;
        if (parts.size() != 2 || !parseNumber(parts[0], &k1) || !parseNumber(parts[1], &k2))
            return fail(tr("--distortion needs K1,K2, e.g. -0.05,0.01, not \"%1\"").arg(parser.value(distortionOpt)));
        options.k1 = k1;
        options.k2 = k2;
    }
    options.photoEffects = !parser.isSet(noEffectsOpt);
    int unmapped = 0;
    if (parser.isSet(unmappedOpt)) {
        if (!parseInt(parser.value(unmappedOpt), 0, intMax, &v))
            return fail(tr("--unmapped needs a whole number from 0, not \"%1\"").arg(parser.value(unmappedOpt)));
        unmapped = int(v);
        if (unmapped > options.tiles)
            return fail(tr("--unmapped %1 is more than the %2 photos").arg(unmapped).arg(options.tiles));
    }
    const bool quiet = parser.isSet(quietOpt);

    orvsample::SampleProgress progress;
    if (!quiet && options.tiles > 1) {
        progress = [](int done, int total) { printLine(stdout, tr("  photo %1 of %2 written").arg(done).arg(total)); };
    }
    const orvsample::SampleResult result = orvsample::generateSample(options, progress);
    if (!result.ok) return fail(result.error);
    orvsample::ProjectSummary project;
    if (!parser.isSet(noProjectOpt)) {
        const QString path = QFileInfo(result.manifestPath).absoluteDir().filePath(QStringLiteral("sample.orvproj"));
        project = orvsample::buildSampleProject(result.manifestPath, path, unmapped);
        if (!project.ok) return fail(project.error);
    }

    if (!quiet) {
        const QString folder = QDir::toNativeSeparators(QFileInfo(result.manifestPath).absolutePath());
        const int files = result.meshFiles.size() + result.photoFiles.size() + result.otherFiles.size() + 1;
        printLine(stdout, tr("Sample project in %1").arg(folder));
        printLine(stdout, tr("  tiles:      %1 (OBJ + MTL + %2x%2 PNG texture each)")
                              .arg(result.meshFiles.size())
                              .arg(options.textureSize));
        printLine(stdout, tr("  triangles:  %1 (%2 vertices)").arg(result.triangles).arg(result.vertices));
        printLine(stdout, tr("  photos:     %1 JPEG, %2x%3")
                              .arg(result.photoFiles.size())
                              .arg(options.photoSize.width())
                              .arg(options.photoSize.height()));
        printLine(stdout, tr("  marks:      %1").arg(result.marks));
        printLine(stdout, tr("  size:       %1 in %2 files").arg(humanBytes(result.bytesWritten)).arg(files));
        printLine(stdout, tr("  manifest:   %1").arg(QDir::toNativeSeparators(result.manifestPath)));
        if (project.ok)
            printLine(stdout, tr("  project:    %1 (%2 images, %3 of them mapped, with %4 marks, %5 triangles, "
                                 "reopened and checked)")
                                  .arg(QDir::toNativeSeparators(project.path))
                                  .arg(project.images)
                                  .arg(project.mapped)
                                  .arg(project.marks)
                                  .arg(project.triangles));
    }
    return 0;
}
