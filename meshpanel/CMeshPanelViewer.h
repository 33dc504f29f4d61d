// The mesh panel: named lists of meshes in a vertical splitter (see IOrvMeshPanelViewer).
#pragma once

#include <OrvKernel64t.h>

#include <QMap>
#include <QTreeWidget>
#include <QWidget>

#include "IOrvMeshPanelViewer.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QSplitter;
class QVBoxLayout;

// One row: the mesh's index, its texture and sleep buttons and its name.
class CMeshPanelItem : public QWidget {
    Q_OBJECT
public:
    CMeshPanelItem(QWidget* parent, int options);

    void setMesh(ref_ptr<IZimMesh> mesh);
    void setName(const QString& name);
    void setTextureVisible(bool visible);
    void setAsleep(bool asleep);
    ref_ptr<IZimMesh> getMesh() const { return m_mesh; }
    bool isTextureVisible() const { return m_textureVisible; }
    bool isAsleep() const { return m_asleep; }
    QString indexText() const;
    // Sets the row's icons, and the tile of its image, to what the kernel says of the mesh.
    void showKernelState();
    // Puts the mesh to sleep or wakes it up, as the row's sleep button does, with the main
    // frame's progress (may be null); a failure is told to the user. True when it changed.
    bool toggleSleep(IZimProgress* progress);

public slots:
    void onMeshTogVisible();
    void OnMeshTogSleep();

private:
    void toTile(int op);
    // Tool tips that say the mesh's state and what each button does.
    void updateToolTips();

    ref_ptr<IZimMesh> m_mesh;
    int m_options = 0;
    bool m_textureVisible = false;
    bool m_asleep = true;
    QLabel* m_index = nullptr;
    QPushButton* m_visButton = nullptr;
    QPushButton* m_sleepButton = nullptr;
    QLineEdit* m_name = nullptr;
    QString m_iconDir;
};

// One list of the panel.
class CMeshTabWD : public QTreeWidget {
    Q_OBJECT
public:
    CMeshTabWD(const QString& name, int options, QWidget* parent);
    ~CMeshTabWD() override;

    QString name() const { return m_name; }
    int addMeshRow(ref_ptr<IZimMesh> mesh);
    int addMeshRows(ref_ptr<MeshArray> meshes, IZimProgress* progress);
    int removeMeshRow(ref_ptr<IZimMesh> mesh);
    int removeMeshRows(ref_ptr<MeshArray> meshes, IZimProgress* progress);
    int setMeshRowState(ref_ptr<IZimMesh> mesh, int op);
    CMeshPanelItem* row(const ref_ptr<IZimMesh>& mesh) const;
    CMeshPanelItem* rowAt(int i) const;
    int rowCount() const { return topLevelItemCount(); }

public slots:
    void onMeshTogVisible();
    void OnMeshTogSleep();

protected:
    void dropEvent(QDropEvent* event) override;

private:
    QTreeWidgetItem* itemOf(const ref_ptr<IZimMesh>& mesh) const;

    QString m_name;
    int m_options = 0;
    QString m_extra;
};

class CMeshPanelViewer : public QWidget, public orvUI::IOrvMeshPanelViewer {
    Q_OBJECT
public:
    explicit CMeshPanelViewer(QWidget* parent);
    ~CMeshPanelViewer() override;

    CMeshTabWD* addMeshList(QString name, int options) override;
    int refreshMeshList(QString name) override;
    int clearMeshLists() override;
    int addMeshRow(ref_ptr<IZimMesh> mesh, QString listName) override;
    int removeMeshRow(ref_ptr<IZimMesh> mesh, QString listName) override;
    int setMeshRowState(ref_ptr<IZimMesh> mesh, int op, QString listName) override;
    int clearMeshRows() override;
    int layoutMeshLists() override;
    int rebuildMeshList(QString name) override;

    // ---- beyond the interface ----
    CMeshTabWD* list(const QString& name) const { return m_lists.value(name, nullptr); }
    QSplitter* splitter() const { return m_splitter; }

private:
    QMap<QString, CMeshTabWD*> m_lists;
    QVBoxLayout* m_layout = nullptr;
    QSplitter* m_splitter = nullptr;
};
