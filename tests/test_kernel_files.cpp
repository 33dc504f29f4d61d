// Kernel and special files: photos that are FIFOs are refused without being opened, and a
// photograph beyond what viewing needs is decoded reduced with the size of its file kept.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>

#include "OrvKernel64t.h"
#include "TestSupport.h"

namespace {

class KernelFiles : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        m_mm = zim::getMM();
        ASSERT_TRUE(m_mm);
        ASSERT_TRUE(orvtest::writeFile(path("quad.obj"),
                                       "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nvt 0 0\nvt 1 0\nvt 1 1\n"
                                       "vt 0 1\nf 1/1 2/2 3/3\nf 1/1 3/3 4/4\n"));
        ASSERT_EQ(m_mm->createProject(path("p.orvproj")), 0) << m_mm->lastError().toStdString();
    }
    void TearDown() override { m_mm->closeProject(); }
    QString path(const QString& name) const { return m_dir.filePath(name); }

    QTemporaryDir m_dir;
    ref_ptr<IZimMM> m_mm;
};

}  // namespace

TEST_F(KernelFiles, APhotoThatIsAFifoIsRefusedWithoutBeingOpened)
{
    ASSERT_EQ(::mkfifo(QFile::encodeName(path("photo.png")).constData(), 0600), 0);
    EXPECT_LT(m_mm->addImage(path("photo.png"), path("quad.obj"), "quad"), 0);
    EXPECT_TRUE(m_mm->lastError().contains("photo.png") && m_mm->lastError().contains("not a regular file"))
        << m_mm->lastError().toStdString();
}

TEST_F(KernelFiles, APhotoWhoseNameIsNotUtf8IsReportedAsSuchNotAsMissing)
{
    QImage photo(8, 8, QImage::Format_RGB888);
    photo.fill(Qt::red);
    ASSERT_TRUE(photo.save(path("plain.png")));
    const QByteArray raw = QFile::encodeName(m_dir.path()) + "/caf\xE9.png";
    ASSERT_EQ(::rename(QFile::encodeName(path("plain.png")).constData(), raw.constData()), 0);
    EXPECT_LT(m_mm->addImage(QFile::decodeName(raw), path("quad.obj"), "quad"), 0);
    EXPECT_TRUE(m_mm->lastError().contains("not valid UTF-8") && !m_mm->lastError().contains("does not exist"))
        << m_mm->lastError().toStdString();
    ::unlink(raw.constData());  // the temporary folder cannot name it to remove it
}

TEST_F(KernelFiles, AFullPhotographBeyondTheViewingNeedIsDecodedReducedWithItsSizeKept)
{
    QImage photo(8200, 4, QImage::Format_RGB888);
    photo.fill(QColor(30, 60, 90));
    ASSERT_TRUE(photo.save(path("wide.png")));
    const int index = m_mm->addImage(path("wide.png"), path("quad.obj"), "quad");
    ASSERT_GE(index, 0) << m_mm->lastError().toStdString();
    ref_ptr<IZimTqState> state;
    ref_ptr<IZimImageStore> store;
    ASSERT_EQ(m_mm->getState(state), 0);
    ASSERT_EQ(state->getImageStore(store), 0);
    ref_ptr<IZimImage> full;
    ASSERT_EQ(store->getStoreImage(full, index, 2), 0) << m_mm->lastError().toStdString();
    ASSERT_TRUE(full);
    EXPECT_EQ(full->imageWidth(), 8192);
    EXPECT_EQ(full->imageFullSize(), QSize(8200, 4));
    // Read-only: it can never be written over the photograph.
    EXPECT_NE(full->imageSave(path("wide.png"), ZimImageSaveBySuffix), 0);
    EXPECT_EQ(QImage(path("wide.png")).width(), 8200);
}
