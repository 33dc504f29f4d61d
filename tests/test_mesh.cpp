// Meshes: loading Wavefront OBJ files with their materials and textures, rejecting broken ones,
// building meshes in memory, texture-corner lookups and the mesh list.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QTemporaryDir>
#include <QtGlobal>
#include <limits>
#include <ostream>
#include <vector>

#include "TestSupport.h"
#include "ZimGeometry64t.h"

inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

namespace {

std::vector<int> ints(const ref_ptr<IntArray>& a)
{
    return a ? std::vector<int>(a->begin(), a->end()) : std::vector<int>();
}

template <class A, class T>
ref_ptr<A> array(std::initializer_list<T> items)
{
    ref_ptr<A> a(new A());
    for (const T& v : items) a->append(v);
    return a;
}
const auto pts3 = array<Pnt3fArray, XPnt3f>;
const auto pts2 = array<Pnt2fArray, XPnt2f>;
const auto idx = array<IntArray, int>;

// Name, label and texture name.
QStringList names(const ref_ptr<IZimMesh>& mesh)
{
    QString name, label, texture;
    mesh->meshName(name), mesh->meshLabel(label), mesh->meshTextureName(texture);
    return {name, label, texture};
}

QString canonical(const QString& path) { return QFileInfo(path).canonicalFilePath(); }

// Signed area of a triangle in the XY plane (counter-clockwise positive).
double areaXY(const ref_ptr<IZimMesh>& mesh, int face)
{
    const int* t = mesh->meshTriangles()->data() + 3 * face;
    ref_ptr<Pnt3fArray> v = mesh->meshVertexSource();
    const XPnt2d a(v->at(t[0]).x, v->at(t[0]).y), b(v->at(t[1]).x, v->at(t[1]).y), c(v->at(t[2]).x, v->at(t[2]).y);
    return 0.5 * cross(b - a, c - a);
}

QString texture(const QString& dir, const QString& name, int w, int h)
{
    QImage img(w, h, QImage::Format_RGB888);
    img.fill(qRgb(10, 200, 30));
    const QString path = QDir(dir).filePath(name);
    EXPECT_TRUE(img.save(path));
    return path;
}

QString write(const QTemporaryDir& dir, const QString& name, const QByteArray& bytes)
{
    EXPECT_TRUE(orvtest::writeFile(dir.filePath(name), bytes));
    return dir.filePath(name);
}

const QByteArray kTri = "v 0 0 0\nv 1 0 0\nv 0 1 0\n", kUv = "vt 0 0\nvt 1 0\nvt 0 1\n";

// Collects the warnings logged while it lives.
class LogCapture {
public:
    LogCapture()
    {
        m_previous = qInstallMessageHandler(&LogCapture::handle);
        lines().clear();
    }
    ~LogCapture() { qInstallMessageHandler(m_previous); }
    QString text() const { return lines().join(QLatin1Char('\n')); }
    void clear() { lines().clear(); }

private:
    static QStringList& lines()
    {
        static QStringList held;
        return held;
    }
    static void handle(QtMsgType, const QMessageLogContext&, const QString& message) { lines() << message; }
    QtMessageHandler m_previous = nullptr;
};

bool makeFifo(const QString& path) { return ::mkfifo(QFile::encodeName(path).constData(), 0600) == 0; }

}  // namespace

TEST(MeshLoad, CommittedQuadAndSeparateTextureIndices)
{
    const QString path = orvtest::dataPath("quad.obj");
    QString error;
    ref_ptr<IZimMesh> quad = zim::loadObjMesh(path, &error);
    ASSERT_TRUE(quad) << error.toStdString();
    ASSERT_EQ(quad->meshTriangleCount(), 2);
    // The quad is split keeping its winding and covering its area.
    EXPECT_GT(areaXY(quad, 0), 0.0);
    EXPECT_GT(areaXY(quad, 1), 0.0);
    EXPECT_NEAR(areaXY(quad, 0) + areaXY(quad, 1), 2.0, 1e-6);
    // vt index equals v index everywhere: no separate list, coordinates by vertex.
    EXPECT_FALSE(quad->hasTexIndices());
    EXPECT_EQ(quad->meshTexCoords()->count(), 4);
    for (int k = 0; k < 6; ++k) EXPECT_EQ(quad->meshTexFaceIndex(k / 3, k % 3), quad->meshTriangles()->at(k));
    Enve3d box;
    quad->meshBox(box);
    EXPECT_EQ((std::vector<double>{box.minX, box.maxX, box.minY, box.maxY, box.minZ, box.maxZ}),
              (std::vector<double>{0, 2, 0, 1, -0.5, 0}));
    EXPECT_EQ(names(quad), (QStringList{"quad", "QuadObject", "quad_tex"}));
    EXPECT_EQ(canonical(quad->meshFilePath()), canonical(path));
    EXPECT_EQ(canonical(quad->meshTexturePath()), canonical(orvtest::dataPath("quad_tex.png")));

    // f 1/3 2/1 3/2 and f 2/4 4/3 3/1 over four vt; the label comes from the only group.
    ref_ptr<IZimMesh> mesh = zim::loadObjMesh(orvtest::dataPath("sep_tex.obj"), &error);
    ASSERT_TRUE(mesh) << error.toStdString();
    EXPECT_EQ(ints(mesh->meshTriangles()), (std::vector<int>{0, 1, 2, 1, 3, 2}));
    EXPECT_EQ(ints(mesh->meshTexIndices()), (std::vector<int>{2, 0, 1, 3, 2, 0}));
    EXPECT_EQ(mesh->meshTexCoords()->at(3), XPnt2f(0.75f, 0.875f));
    EXPECT_EQ(names(mesh)[1], "SeparateGroup");
    const int corners[][3] = {{0, 0, 2},  {0, 2, 1},   {1, 0, 3},  {1, 2, 0},
                              {2, 0, -1}, {-1, 0, -1}, {0, 3, -1}, {0, -1, -1}};
    for (const auto& c : corners) EXPECT_EQ(mesh->meshTexFaceIndex(c[0], c[1]), c[2]) << c[0] << "/" << c[1];
    // Only the exact corner order finds a triangle.
    const int faces[][4] = {{0, 1, 2, 0}, {1, 3, 2, 1}, {1, 0, 2, -1}, {1, 2, 0, -1}, {0, 1, 3, -1}, {-1, 0, 1, -1}};
    for (const auto& f : faces) EXPECT_EQ(mesh->meshTexFace(f[0], f[1], f[2]), f[3]) << f[0] << f[1] << f[2];
}

TEST(MeshLoad, PolygonsRelativeIndicesAndTheFirstObjectNameAsLabel)
{
    QTemporaryDir dir;
    // A convex pentagon with normals, then a triangle given with relative indices.
    const QString pent = write(dir, "pent.agon.obj",
                               "g Limb\no Body\ng Arm\nv 0 0 0\nv 2 0 0\nv 3 1.5 0\nv 1 3 0\nv -1 1.5 0\nvn 0 0 1\n"
                               "f 1//1 2//1 3//1 4//1 5//1\no Second\nv 10 10 1\nv 11 10 1\nv 10 11 1\nf -3 -2 -1\n");
    QString error;
    ref_ptr<IZimMesh> mesh = zim::loadObjMesh(pent, &error);
    ASSERT_TRUE(mesh) << error.toStdString();
    ASSERT_EQ(mesh->meshTriangleCount(), 4);
    double area = 0;
    for (int f = 0; f < 3; ++f) {
        EXPECT_GT(areaXY(mesh, f), 0.0) << "face " << f;
        area += areaXY(mesh, f);
    }
    EXPECT_NEAR(area, 7.5, 1e-6);
    EXPECT_EQ(ints(mesh->meshTriangles()).back(), 7);
    EXPECT_EQ(names(mesh), (QStringList{"pent.agon", "Body", ""}));
    EXPECT_FALSE(mesh->hasTexIndices() || mesh->meshTexture());
}

TEST(MeshLoad, TextureIsReadOnDemandKeptAndReadAgainAfterRelease)
{
    ref_ptr<IZimMesh> mesh = zim::loadObjMesh(orvtest::dataPath("broken_tex.obj"));
    ASSERT_TRUE(mesh) << "the texture cut short after its header is only found when read";
    EXPECT_FALSE(mesh->meshTexture());
    EXPECT_TRUE(mesh->meshLastError().contains("truncated_tex.png")) << mesh->meshLastError().toStdString();

    QTemporaryDir dir;
    texture(dir.path(), "skin.png", 3, 5);
    write(dir, "skin.mtl", "newmtl Skin\nmap_Kd skin.png\n");
    mesh = zim::loadObjMesh(write(dir, "body.obj", "mtllib skin.mtl\n" + kTri + kUv + "usemtl Skin\nf 1/1 2/2 3/3\n"));
    ASSERT_TRUE(mesh);
    write(dir, "skin.png", "just words\n");
    EXPECT_FALSE(mesh->meshTexture()) << "read when first asked for, not at load";
    EXPECT_TRUE(mesh->meshLastError().contains("skin.png")) << mesh->meshLastError().toStdString();
    EXPECT_FALSE(mesh->meshTexture()) << "asking again still gives nothing";
    texture(dir.path(), "skin.png", 6, 2);
    mesh->releaseMeshTexture();
    ASSERT_TRUE(mesh->meshTexture());
    texture(dir.path(), "skin.png", 8, 8);
    EXPECT_EQ(mesh->meshTexture()->imageWidth(), 6) << "kept until released";
    mesh->releaseMeshTexture();
    EXPECT_EQ(mesh->meshTexture()->imageWidth(), 8);
    mesh->setMeshTexturePath(texture(dir.path(), "other.png", 2, 7));
    EXPECT_EQ(mesh->meshTexture()->imageHeight(), 7);
    ref_ptr<IZimImage> own = zim::newZimImage();
    mesh->setMeshTextureImage(own);
    EXPECT_EQ(mesh->meshTexture().get(), own.get());
}

TEST(MeshLoad, TexturePathIsTakenFromTheMaterialLibrarysFolder)
{
    QTemporaryDir dir;
    const QString accented = QString::fromUtf8("Modèle 3D");
    ASSERT_TRUE(QDir(dir.path()).mkpath("materials/textures") && QDir(dir.path()).mkpath(accented));
    const QString skin = texture(dir.filePath("materials"), "skin.png", 4, 4);
    const QString hide = texture(dir.filePath("materials/textures"), "hide.png", 2, 2);
    const QString peau = texture(dir.filePath(accented), "peau.png", 3, 5);
    write(dir, "materials/lib.mtl", "newmtl M\nmap_Kd skin.png\n");
    write(dir, "materials/back.mtl", "newmtl M\nmap_Kd textures\\hide.png\n");  // written on another system
    write(dir, accented + QString::fromUtf8("/crâne.mtl"), "newmtl M\r\nKd 1 1 1\r\nmap_Kd peau.png\r\n");
    const QByteArray geometry = kTri + kUv + "usemtl M\nf 1/1 2/2 3/3\n";
    const struct {
        QString obj;
        QByteArray text;
        QString texture, label;
    } cases[] = {
        {"sub.obj", "mtllib materials/lib.mtl\n" + geometry, skin, "sub"},
        {"back.obj", "mtllib materials/back.mtl\ng Shell\ng Other\n" + geometry, hide, "Shell"},
        {accented + QString::fromUtf8("/crâne.obj"),
         QString::fromUtf8("mtllib crâne.mtl\r\no Crâne\r\n").toUtf8() + QByteArray(geometry).replace("\n", "\r\n"),
         peau, QString::fromUtf8("Crâne")}};
    for (const auto& c : cases) {
        QString error;
        ref_ptr<IZimMesh> mesh = zim::loadObjMesh(write(dir, c.obj, c.text), &error);
        ASSERT_TRUE(mesh) << error.toStdString();
        EXPECT_EQ(canonical(mesh->meshTexturePath()), canonical(c.texture));
        EXPECT_EQ(names(mesh).mid(1), (QStringList{c.label, QFileInfo(c.texture).completeBaseName()}));
        EXPECT_TRUE(mesh->meshTexture()) << mesh->meshLastError().toStdString();
    }
}

// ---------------------------------------------------------------------------------------------

TEST(MeshLoadErrors, BrokenFilesAreRejectedNamingTheFileOrWhatIsMissing)
{
    QTemporaryDir dir;
    texture(dir.path(), "present.png", 2, 2);
    write(dir, "lib.mtl", "newmtl Here\nmap_Kd present.png\n");
    write(dir, "gone.mtl", "newmtl Gone\nmap_Kd absent_texture.png\n");
    ASSERT_TRUE(QDir(dir.path()).mkpath("folder.obj"));
    const QByteArray use = "usemtl Here\nf 1/1 2/2 3/3\n";
    ASSERT_TRUE(zim::loadObjMesh(write(dir, "good.obj", "mtllib lib.mtl\n" + kTri + kUv + use)));
    const struct {
        const char* file;
        QByteArray text;
        const char* named = nullptr;
    } cases[] = {
        {"empty.obj", ""},
        {"points.obj", kTri},
        {"two_corners.obj", kTri + "f 1 2\n"},
        {"cut_face.obj", kTri + "f 1 2"},
        {"cut_vertex.obj", kTri + "f 1 2 3\nv 5 5"},
        {"short_vertex.obj", "v 0 0 0\nv 1 0\nv 0 1 0\nf 1 2 3\n"},
        {"one_past.obj", kTri + "f 1 2 4\n"},
        {"zero_index.obj", kTri + "f 0 1 2\n"},
        {"neg_past.obj", kTri + "f -4 -2 -1\n"},
        {"word_index.obj", kTri + "f 1 two 3\n"},
        {"missing_vt.obj", kTri + kUv + "f 1/1 2/2 3/4\n"},
        {"zero_vt.obj", kTri + kUv + "f 1/0 2/1 3/2\n"},
        {"no_vt.obj", kTri + "f 1/1 2/2 3/3\n"},
        {"overflow_index.obj", kTri + "f 1 2 99999999999999999999\n", "line 4"},
        {"overflow_vt.obj", kTri + kUv + "f 1/1 2/4294967298 3/3\n", "4294967298"},
        {"int_max_plus.obj", kTri + "f 1 2\t2147483648\n", "line 4"},
        {"sign_only.obj", kTri + "f 1 - 3\n", "line 4"},
        {"nan_vertex.obj", "v nan 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n"},
        {"inf_vertex.obj", "v 0 0 0\nv inf 0 0\nv 0 1 0\nf 1 2 3\n"},
        {"huge_vertex.obj", "v 0 0 0\nv 1 0 0\nv 0 1e999 0\nf 1 2 3\n"},
        {"nan_vt.obj", kTri + "vt 0 0\nvt nan 0\nvt 0 1\nf 1/1 2/2 3/3\n"},
        {"not_there.obj", QByteArray()},
        {"folder.obj", QByteArray()},
        {"faces_none.obj", "mtllib missing_library.mtl\n" + kTri + kUv + "usemtl Here\n", "no faces"},
        {"notex.obj", "mtllib gone.mtl\n" + kTri + kUv + "usemtl Gone\nf 1/1 2/2 3/3\n", "absent_texture.png"}};
    for (const auto& c : cases) {
        const QString path = dir.filePath(c.file);
        if (!c.text.isNull()) write(dir, c.file, c.text);
        QString error;
        EXPECT_FALSE(zim::loadObjMesh(path, &error)) << c.file;
        EXPECT_TRUE(error.contains(c.file) && error.contains(c.named ? c.named : c.file)) << error.toStdString();
        EXPECT_FALSE(zim::loadObjMesh(path)) << c.file << " without an error slot";
    }
}

TEST(MeshLoadErrors, SpecialOversizedAndUndecodableFilesAreRefusedWithoutBeingRead)
{
    // Each of these would block on the open or read without end if it were read.
    QTemporaryDir dir;
    ASSERT_TRUE(makeFifo(dir.filePath("pipe.obj")));
    ASSERT_TRUE(makeFifo(dir.filePath("pipe.mtl")));
    ASSERT_TRUE(makeFifo(dir.filePath("pipe.png")));
    texture(dir.path(), "tex.png", 2, 2);
    write(dir, "tex.mtl", "newmtl T\nmap_Kd pipe.png\n");
    write(dir, "alpha.mtl", "newmtl A\nmap_Kd tex.png\nmap_d pipe.png\n");
    ASSERT_TRUE(QDir(dir.path()).mkpath("folder.mtl"));
    // One byte beyond 16 MiB, as a sparse file: refused by its size before anything is read.
    {
        QFile big(dir.filePath("big.mtl"));
        ASSERT_TRUE(big.open(QIODevice::WriteOnly));
        ASSERT_TRUE(big.resize((qint64(16) << 20) + 1));
    }
    const QByteArray face = kTri + kUv + "f 1/1 2/2 3/3\n";
    const struct {
        const char* file;
        QByteArray text;
        const char* named;
        const char* why;
    } cases[] = {{"pipe.obj", QByteArray(), "pipe.obj", "FIFO"},
                 {"lib_pipe.obj", "mtllib pipe.mtl\n" + face, "pipe.mtl", "FIFO"},
                 {"lib_folder.obj", "mtllib folder.mtl\n" + face, "folder.mtl", "folder"},
                 {"lib_big.obj", "mtllib big.mtl\n" + face, "big.mtl", "16 MiB"},
                 {"tex_pipe.obj", "mtllib tex.mtl\nusemtl T\n" + face, "pipe.png", "FIFO"},
                 {"alpha_pipe.obj", "mtllib alpha.mtl\nusemtl A\n" + face, "pipe.png", "FIFO"}};
    for (const auto& c : cases) {
        if (!c.text.isNull()) write(dir, c.file, c.text);
        QString error;
        EXPECT_FALSE(zim::loadObjMesh(dir.filePath(c.file), &error)) << c.file;
        EXPECT_TRUE(error.contains(c.named) && error.contains(c.why)) << error.toStdString();
    }

    // A name that is not valid UTF-8 reaches the program with replacement characters: it cannot
    // be opened, and the message says so instead of claiming the file is not there.
    const QByteArray rawName = QFile::encodeName(dir.path()) + "/caf\xE9.obj";
    const int fd = ::open(rawName.constData(), O_WRONLY | O_CREAT, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, face.constData(), std::size_t(face.size())), ssize_t(face.size()));
    ::close(fd);
    const QString decoded = QFile::decodeName(rawName);
    ASSERT_TRUE(decoded.contains(QChar::ReplacementCharacter));
    QString error;
    EXPECT_FALSE(zim::loadObjMesh(decoded, &error));
    EXPECT_TRUE(error.contains("not valid UTF-8") && !error.contains("does not exist")) << error.toStdString();
    ::unlink(rawName.constData());  // the temporary folder cannot name it to remove it
    EXPECT_FALSE(zim::loadObjMesh(dir.filePath("nothing.obj"), &error));
    EXPECT_TRUE(error.contains("does not exist")) << error.toStdString();
}

TEST(MeshLoad, ValidVariantsLoadAsTheCommonReadersDo)
{
    QTemporaryDir dir;
    const QString wall = canonical(texture(dir.path(), "wall.png", 2, 2));
    const QString stone = canonical(texture(dir.path(), "stone.png", 2, 2));
    // Two materials whose names share their first word; the library starts with a byte-order mark.
    write(dir, "lib.mtl", "\xEF\xBB\xBFnewmtl stone\nmap_Kd stone.png\nnewmtl  stone wall \nmap_Kd wall.png\n");
    const QByteArray face = kTri + kUv + "f 1/1 2/2 3/3\n";
    LogCapture log;
    QString error;
    auto load = [&](const char* file, const QByteArray& text) {
        log.clear();
        const ref_ptr<IZimMesh> mesh = zim::loadObjMesh(write(dir, file, text), &error);
        EXPECT_TRUE(mesh) << file << ": " << error.toStdString();
        return mesh;
    };

    ref_ptr<IZimMesh> mesh = load("spaces.obj", "mtllib lib.mtl\nusemtl stone wall\n" + face);
    ASSERT_TRUE(mesh);
    EXPECT_EQ(canonical(mesh->meshTexturePath()), wall);
    mesh = load("bom.obj", "\xEF\xBB\xBFmtllib lib.mtl\r\nusemtl stone\r\n" + face);
    ASSERT_TRUE(mesh);
    EXPECT_EQ(canonical(mesh->meshTexturePath()), stone);
    EXPECT_EQ(log.text(), QString());

    // Missing material, missing library, usemtl without any library: untextured and a warning
    // that names what is missing.
    const struct {
        const char* file;
        QByteArray text;
        const char* named;
    } untextured[] = {{"nomat.obj", "mtllib lib.mtl\nusemtl Nowhere Land\n" + face, "Nowhere Land"},
                      {"nolib.obj", "mtllib missing_library.mtl\nusemtl stone\n" + face, "missing_library.mtl"},
                      {"nolibuse.obj", "usemtl stone\n" + face, "stone"}};
    for (const auto& c : untextured) {
        mesh = load(c.file, c.text);
        ASSERT_TRUE(mesh);
        EXPECT_EQ(mesh->meshTriangleCount(), 1) << c.file;
        EXPECT_TRUE(mesh->meshTexturePath().isEmpty()) << c.file;
        EXPECT_TRUE(log.text().contains(c.file) && log.text().contains(c.named)) << log.text().toStdString();
    }

    // Faces with texture coordinates on some corners or none are kept and report no texture
    // corners; the others keep theirs and the texture.
    mesh = load("mixed.obj", "mtllib lib.mtl\nusemtl stone\n" + kTri + "v 1 1 0\n" + kUv +
                                 "f 1/1 2/2 3/3\nf 2/2 4 3/3\nf 2 4 3\nf 1/3 2/1 3/2\n");
    ASSERT_TRUE(mesh);
    ASSERT_EQ(mesh->meshTriangleCount(), 4);
    EXPECT_EQ(canonical(mesh->meshTexturePath()), stone);
    EXPECT_TRUE(log.text().contains("2 of its 4 faces")) << log.text().toStdString();
    const int expected[4][3] = {{0, 1, 2}, {-1, -1, -1}, {-1, -1, -1}, {2, 0, 1}};
    for (int f = 0; f < 4; ++f)
        for (int k = 0; k < 3; ++k) EXPECT_EQ(mesh->meshTexFaceIndex(f, k), expected[f][k]) << f << "," << k;
    // The face lookup the backup uses finds the untextured face and gets no texture corner.
    EXPECT_EQ(mesh->meshTexFaceIndex(mesh->meshTexFace(1, 3, 2), 0), -1);
    // New geometry forgets the marks.
    ASSERT_EQ(mesh->setMeshGeometry(mesh->meshVertexSource(), mesh->meshTriangles(), mesh->meshTexCoords(),
                                    mesh->meshTexIndices()),
              0);
    EXPECT_GE(mesh->meshTexFaceIndex(1, 0), 0);
}

// ---------------------------------------------------------------------------------------------

TEST(MeshGeometry, WholeGeometryIsTakenAndFaultyGeometryRefused)
{
    ref_ptr<IZimMesh> mesh = zim::newZimMesh();
    Enve3d box;
    mesh->meshBox(box);
    EXPECT_TRUE(box.isEmpty());
    EXPECT_EQ(mesh->meshTexFace(0, 1, 2), -1);
    EXPECT_EQ(mesh->meshTexFaceIndex(0, 0), -1);
    ASSERT_EQ(mesh->setMeshGeometry(pts3({{0, 0, 0}, {4, 0, 1}, {4, 3, 2}, {0, 3, -1}}),
                                    idx({0, 1, 2, 0, 2, 3, 0, 1, 2}), pts2({{0, 0}, {1, 0}, {1, 1}, {0, 1}}), {}),
              0)
        << mesh->meshLastError().toStdString();
    EXPECT_EQ(mesh->meshTexFace(0, 2, 3), 1);
    EXPECT_EQ(mesh->meshTexFace(0, 1, 2), 0) << "the first of two equal triangles";
    EXPECT_EQ(mesh->meshTexFaceIndex(1, 2), 3);
    mesh->meshBox(box);
    EXPECT_EQ((std::vector<double>{box.minX, box.maxX, box.maxY, box.minZ, box.maxZ}),
              (std::vector<double>{0, 4, 3, -1, 2}));

    // Separate indices over three texture coordinates replace it all, lookup and box included.
    ASSERT_EQ(mesh->setMeshGeometry(pts3({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}), idx({0, 1, 2}),
                                    pts2({{0, 0}, {1, 0}, {0, 1}}), idx({2, 1, 0})),
              0);
    EXPECT_EQ(mesh->meshTexFace(0, 2, 3), -1);
    mesh->meshBox(box);
    EXPECT_EQ(box.maxX, 1);

    const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
    const auto quad = [] { return pts3({{0, 0, 0}, {2, 0, 0}, {2, 2, 0}, {0, 2, 0}}); };
    const auto uv = [] { return pts2({{0, 0}, {1, 0}, {1, 1}, {0, 1}}); };
    const struct {
        ref_ptr<Pnt3fArray> v;
        ref_ptr<IntArray> t;
        ref_ptr<Pnt2fArray> uv;
        ref_ptr<IntArray> ti;
    } cases[] = {{quad(), idx({0, 1, 4}), uv(), {}},
                 {quad(), idx({0, -1, 2}), uv(), {}},
                 {quad(), idx({0, 1, 2, 3}), uv(), {}},
                 {pts3({{0, 0, 0}, {nan, 0, 0}, {0, 1, 0}}), idx({0, 1, 2}), {}, {}},
                 {pts3({{0, 0, 0}, {1, 0, 0}, {0, inf, 0}}), idx({0, 1, 2}), {}, {}},
                 {quad(), idx({0, 1, 2}), pts2({{0, 0}, {nan, 0}, {1, 1}, {0, 1}}), {}},
                 {quad(), idx({0, 1, 2}), pts2({{0, 0}, {1, 0}}), idx({0, 1, 2})},
                 {quad(), idx({0, 1, 2}), uv(), idx({0, -2, 1})},
                 {quad(), idx({0, 1, 2, 0, 2, 3}), uv(), idx({0, 1, 2})},
                 {quad(), idx({0, 1, 2}), {}, idx({0, 1, 2})},
                 {quad(), idx({0, 1, 2}), pts2({{0, 0}, {1, 0}}), {}},
                 {{}, idx({0, 1, 2}), uv(), {}}};
    for (const auto& c : cases) {
        const int at = int(&c - cases);
        EXPECT_EQ(mesh->setMeshGeometry(c.v, c.t, c.uv, c.ti), -1) << "case " << at;
        EXPECT_FALSE(mesh->meshLastError().isEmpty()) << "case " << at;
        ASSERT_EQ(mesh->meshVertexCount(), 3) << "case " << at;
        EXPECT_EQ(mesh->meshTexFaceIndex(0, 0), 2) << "case " << at;
        EXPECT_EQ(mesh->meshTexFace(0, 1, 2), 0) << "case " << at;
    }
}

TEST(MeshList, AppendLookupAndRemoveKeepOrderAndReferences)
{
    ref_ptr<MeshArray> list = zim::newMeshArray();
    ref_ptr<IZimMesh> a = zim::newZimMesh(), b = zim::newZimMesh(), c = zim::newZimMesh();
    for (const auto& m : {a, b, c}) list->appendMesh(m);
    EXPECT_FALSE(list->meshAt(3) || list->meshAt(-1));
    EXPECT_EQ(list->removeMeshAt(3), -1);
    EXPECT_EQ(list->removeMeshAt(-1), -1);
    EXPECT_EQ(list->removeMeshAt(1), 0);
    ASSERT_EQ(list->meshCount(), 2);
    EXPECT_EQ(b->referenceCount(), 1);
    EXPECT_EQ(list->meshAt(1).get(), c.get());
    list.reset();
    EXPECT_EQ(a->referenceCount(), 1);
}
