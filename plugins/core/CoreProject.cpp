#include "CoreProject.h"

#include <ProjectData.h>

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QUuid>

#include "CoreCommands.h"
#include "PaintCommands.h"

namespace orvCore {

namespace {

ZIM_TR_CONTEXT("orvCore")
// One text for one item, another (with the number as %1) for any other count.
QString count(int n, const char* one, const char* many) { return n == 1 ? tr(one) : tr(many).arg(n); }

QString native(const QString& path) { return QDir::toNativeSeparators(path); }

}  // namespace

// ---- progress --------------------------------------------------------------------------------

ProgressBatch::ProgressBatch(IZimProgress* progress, const QString& text, int items)
    : m_progress(progress), m_step(items > 0 ? 1.0 / items : 1.0)
{
    if (!m_progress) return;
    m_progress->progressText(text);
    m_progress->progressStep(0.01);
    m_progress->progressPush(0.99);
}

ProgressBatch::~ProgressBatch()
{
    if (m_progress) m_progress->progressPop();
}

void ProgressBatch::step()
{
    if (m_progress) m_progress->progressStep(m_step);
}

bool ProgressBatch::canceled() const { return m_progress && m_progress->progressCanceled(); }

// ---- adding pairs ----------------------------------------------------------------------------

AddOutcome addPairs(IZimMM* mm, const QVector<PhotoMeshPair>& pairs, IZimProgress* progress, const QStringList& labels)
{
    AddOutcome out;
    if (!mm) return out;
    ProgressBatch batch(progress, tr("Adding photographs and meshes..."), pairs.size());
    for (int i = 0; i < pairs.size(); ++i) {
        if (batch.canceled()) {
            out.skipped = pairs.size() - i;
            break;
        }
        const PhotoMeshPair& pair = pairs[i];
        const int index = mm->addImage(pair.photo, pair.mesh, i < labels.size() ? labels[i] : QString());
        if (index >= 0)
            out.added.append(index);
        else
            out.failed.append({pair.photo, pair.mesh, mm->lastError()});
        batch.step();
    }
    return out;
}

// ---- counts and texts ------------------------------------------------------------------------

ProjectCounts projectCounts(IZimMM* mm)
{
    ProjectCounts c;
    if (!mm || !mm->isProjectOpen()) return c;
    c.open = true;
    c.path = mm->projectPath();
    c.name = QFileInfo(c.path).completeBaseName();
    c.images = mm->imageCount();
    for (int i = 0; i < c.images; ++i) {
        if (mm->isImageMapped(i)) ++c.mapped;
        if (mm->isMeshAsleepById(i)) {
            ++c.asleep;
            continue;
        }
        ++c.awake;
        ref_ptr<IZimMesh> mesh;
        if (mm->getMeshAt(mesh, i) == 0 && mesh) c.triangles += mesh->meshTriangleCount();
    }
    mm->getMissingFiles(c.missing);
    return c;
}

QVector<int> statusPanes() { return {PaneProject, PaneImages, PaneMeshes, PaneCursor}; }

QString cursorText(double x, double y) { return tr("x %1  y %2").arg(x, 0, 'f', 1).arg(y, 0, 'f', 1); }

QString statusText(int pane, const ProjectCounts& c)
{
    switch (pane) {
        case PaneProject:
            return c.open ? tr("Project: %1").arg(c.name) : tr("No project");
        case PaneImages:
            return c.open ? count(c.images, "1 photo", "%1 photos") : QString();
        case PaneMeshes:
            if (!c.open) return QString();
            return c.asleep > 0 ? tr("%1 awake, %2 asleep").arg(c.awake).arg(c.asleep)
                                : count(c.awake, "1 mesh", "%1 meshes");
        default:
            return QString();
    }
}

QString frameTitle(const ProjectCounts& c)
{
    const QString product = CoreText::productName();
    // "[*]" is where the window shows its modified mark.
    return c.open ? tr("%1 \u2014 %2[*]").arg(product, c.name) : product;
}

QString summaryText(const ProjectCounts& c)
{
    if (!c.open) return tr("No project is open.");
    QStringList lines;
    lines << tr("Project: %1").arg(native(c.path));
    lines << tr("Photographs: %1 (%2 mapped)").arg(c.images).arg(c.mapped);
    lines << tr("Meshes: %1 awake, %2 asleep").arg(c.awake).arg(c.asleep);
    lines << tr("Triangles of the awake meshes: %1").arg(c.triangles);
    if (!c.missing.isEmpty()) lines << tr("Files not found: %1").arg(c.missing.size());
    return lines.join(QLatin1Char('\n'));
}

QString fileList(const QStringList& files, int limit)
{
    QStringList lines;
    const int shown = limit > 0 ? qMin(limit, files.size()) : files.size();
    for (int i = 0; i < shown; ++i) lines << native(files[i]);
    if (shown < files.size()) lines << tr("... and %1 more").arg(files.size() - shown);
    return lines.join(QLatin1Char('\n'));
}

QString withProjectSuffix(const QString& path)
{
    if (path.isEmpty() || isProjectFile(path)) return path;
    return path + QStringLiteral(".orvproj");
}

// ---- creating in place of an old file --------------------------------------------------------

int createProjectReplacing(IZimMM* mm, const QString& path, QString* error)
{
    auto fail = [&](const QString& why) {
        if (error) *error = why;
        return -1;
    };
    if (!mm) return fail(tr("The project library is not available."));
    const QString target = QFileInfo(path).absoluteFilePath();
    QString aside;
    if (QFileInfo::exists(target)) {
        aside = target + QStringLiteral(".replaced-") + QUuid::createUuid().toString(QUuid::WithoutBraces);
        if (!QFile::rename(target, aside))
            return fail(tr("%1 cannot be replaced: it cannot be moved aside.").arg(native(target)));
    }
    if (mm->createProject(target) != 0) {
        const QString why = mm->lastError();
        if (!aside.isEmpty()) {
            QFile::remove(target);
            QFile::rename(aside, target);
        }
        return fail(why.isEmpty() ? tr("%1 cannot be created.").arg(native(target)) : why);
    }
    if (!aside.isEmpty()) QFile::remove(aside);
    if (error) error->clear();
    return 0;
}

// ---- sleep and wake --------------------------------------------------------------------------

QVector<int> wakeAllMeshes(IZimMM* mm, IZimProgress* progress, QStringList* failed)
{
    if (!mm || !mm->isProjectOpen()) return {};
    QVector<int> sleeping;
    for (int i = 0; i < mm->imageCount(); ++i)
        if (mm->isMeshAsleepById(i)) sleeping.append(i);
    QVector<int> changed;
    ProgressBatch batch(progress, tr("Waking meshes..."), sleeping.size());
    for (int index : sleeping) {
        if (batch.canceled()) break;
        if (mm->wakeMesh(index, nullptr) == 0 && !mm->isMeshAsleepById(index)) {
            changed.append(index);
        } else if (failed) {
            ref_ptr<IZimImageEntry> entry;
            const QString file =
                mm->getImageEntry(entry, index) == 0 && entry ? entry->meshPath() : QString::number(index);
            *failed << tr("%1: %2").arg(native(file), mm->lastError());
        }
        batch.step();
    }
    return changed;
}

QVector<int> sleepAllMeshes(IZimMM* mm, IZimProgress* progress, QStringList* failed)
{
    if (!mm || !mm->isProjectOpen()) return {};
    QVector<int> awake;
    for (int i = 0; i < mm->imageCount(); ++i)
        if (!mm->isMeshAsleepById(i)) awake.append(i);
    QVector<int> changed;
    ProgressBatch batch(progress, tr("Putting meshes to sleep..."), awake.size());
    for (int index : awake) {
        if (batch.canceled()) break;
        ref_ptr<IZimMesh> mesh;
        if (mm->getMeshAt(mesh, index) == 0 && mesh && mm->sleepMesh(mesh, nullptr) == 0) {
            changed.append(index);
        } else if (failed) {
            const QString file = mesh ? mesh->meshFilePath() : QString::number(index);
            *failed << tr("%1: %2").arg(native(file), mm->lastError());
        }
        batch.step();
    }
    return changed;
}

// ---- reports ---------------------------------------------------------------------------------

QString addReport(AddSource source, const PairingResult& pairing, const AddOutcome& outcome)
{
    QStringList parts;
    if (!pairing.unmatched.isEmpty()) {
        QString head;
        switch (source) {
            case AddSource::Photos:
                head =
                    tr("No mesh was found for these photographs (an OBJ file of the same name is looked for "
                       "next to each photo and in a \"meshes\" folder beside its folder):");
                break;
            case AddSource::Meshes:
                head =
                    tr("No photograph was found for these meshes (a JPEG, PNG, TIFF or BMP file of the same "
                       "name is looked for next to each mesh and in a \"photos\" folder beside its folder):");
                break;
            case AddSource::Dropped:
                head =
                    tr("No partner was found for these files (each photograph needs an OBJ mesh of the same "
                       "name and each mesh a photograph):");
                break;
        }
        parts << head + QLatin1Char('\n') + fileList(pairing.unmatched);
    }
    if (!pairing.ignored.isEmpty())
        parts << tr("These files are neither photographs nor OBJ meshes and were left out:") + QLatin1Char('\n') +
                     fileList(pairing.ignored);
    if (!outcome.failed.isEmpty()) {
        QStringList lines;
        for (const AddFailure& f : outcome.failed)
            lines << tr("%1 with %2: %3").arg(native(f.photo), native(f.mesh), f.reason);
        parts << tr("These pairs could not be added:") + QLatin1Char('\n') + lines.join(QLatin1Char('\n'));
    }
    if (outcome.skipped > 0)
        parts << count(outcome.skipped, "Cancelled: 1 pair was not added.", "Cancelled: %1 pairs were not added.");
    return parts.join(QStringLiteral("\n\n"));
}

// ---- saving --------------------------------------------------------------------------------

int saveProjectWithTextures(IZimMM* mm, QString* error)
{
    QString why;
    if (!mm || !mm->isProjectOpen()) {
        why = tr("No project is open.");
    } else if (!saveWorkingTextures(mm, &why)) {
        if (why.isEmpty()) why = tr("The edited textures could not be written.");
    } else if (mm->saveProject() != 0) {
        why = mm->lastError();
    } else {
        return 0;
    }
    if (error) *error = why;
    return -1;
}

namespace {

// Copies the kept paints (their log and folders) of one data folder into another that has none
// yet, so that they can still be restored under the project's new name. False with *error
// naming what could not be copied; what was copied stays.
bool copyKeptPaints(const orvpaint::ProjectData& from, const orvpaint::ProjectData& to, QString* error)
{
    const QString log = QStringLiteral("paints.json");
    if (!QFileInfo(QDir(from.rootPath()).filePath(log)).isFile()) return true;
    if (QFileInfo::exists(to.rootPath())) return true;
    QString why;
    if (!to.ensureRoot(&why)) {
        *error = why;
        return false;
    }
    const QDir source(from.rootPath());
    QStringList files{source.filePath(log)};
    QDirIterator it(from.paintsPath(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) files << it.next();
    for (const QString& file : files) {
        const QString target = QDir(to.rootPath()).filePath(source.relativeFilePath(file));
        if (!QDir().mkpath(QFileInfo(target).absolutePath()) || !QFile::copy(file, target)) {
            *error = tr("%1 could not be copied to %2.").arg(native(file), native(target));
            return false;
        }
    }
    return true;
}

}  // namespace

int saveProjectAsWithTextures(IZimMM* mm, const QString& path, QString* error, QString* warning)
{
    if (!mm || !mm->isProjectOpen()) {
        if (error) *error = tr("No project is open.");
        return -1;
    }
    QVector<int> edited;
    for (int i = 0; i < mm->imageCount(); ++i)
        if (mm->isTextureEdited(i)) edited << i;
    const QString before = mm->projectPath();
    if (mm->saveProjectAs(path) != 0) {
        if (error) *error = mm->lastError();
        return -1;
    }
    if (!before.isEmpty()) {
        const orvpaint::ProjectData from(before), to(mm->projectPath());
        QString why;
        if (from.rootPath() != to.rootPath() && !copyKeptPaints(from, to, &why) && warning)
            *warning = tr("The kept paints were not all copied beside the new project file, so some of them cannot "
                          "be restored under its name.\n%1")
                           .arg(why);
    }
    if (edited.isEmpty()) return 0;
    // Saving under the new name counted every edit as saved, but the textures are not written yet:
    // they are edits again until they are.
    for (int index : edited) mm->notifyTextureEdited(index);
    return saveProjectWithTextures(mm, error);
}

}  // namespace orvCore
