// Feeds bytes to the image-tree blob decoder as a project would hand them over: bytes 0-3 the
// folder head, 4-7 the image head (int32, little-endian), then the folder records (as many
// bytes as the folder head asks for, when there are that many) and the image entries (the rest).
// A tree the decoder accepts must be sound and must come back the same when encoded again.
#include <QHash>
#include <QtEndian>
#include <cstddef>
#include <cstdint>

#include "ImageTreeBlob.h"

using orvUI::ImageTreeBlob;
using orvUI::ImageTreeData;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 8) return 0;
    const char* bytes = reinterpret_cast<const char*>(data);
    int folderCount = 0, fileCount = 0;
    if (!ImageTreeBlob::decodeHead(QByteArray(bytes, 4), &folderCount)) __builtin_trap();
    if (!ImageTreeBlob::decodeHead(QByteArray(bytes + 4, 4), &fileCount)) __builtin_trap();
    const std::size_t rest = size - 8;
    const long long wanted = (long long)(folderCount > 0 ? folderCount : 0) * ImageTreeBlob::kRecordSize;
    const std::size_t folderBytes = wanted < (long long)rest ? std::size_t(wanted) : rest;
    const QByteArray folders(bytes + 8, int(folderBytes));
    const QByteArray files(bytes + 8 + folderBytes, int(rest - folderBytes));

    ImageTreeData tree;
    QString why;
    if (!ImageTreeBlob::decodeTree(folderCount, folders, fileCount, files, &tree, &why)) {
        if (why.isEmpty() || !tree.folders.isEmpty() || !tree.imageFolders.isEmpty()) __builtin_trap();
        return 0;
    }
    // Sound: one root first, parents before children, ids once, depth and count bounded, every
    // image in a folder of the tree.
    if (tree.folders.isEmpty() || tree.folders.size() > ImageTreeBlob::kMaxFolders) __builtin_trap();
    QHash<int, int> depth;
    for (int i = 0; i < tree.folders.size(); ++i) {
        const orvUI::ImageTreeFolderRecord& r = tree.folders[i];
        if (depth.contains(r.id) || r.name.size() > ImageTreeBlob::kNameSize) __builtin_trap();
        if (i == 0) {
            if (r.type != 0 || r.parentId >= 0) __builtin_trap();
            depth.insert(r.id, 0);
        } else {
            if (r.type != 1 || !depth.contains(r.parentId)) __builtin_trap();
            const int d = depth.value(r.parentId) + 1;
            if (d > ImageTreeBlob::kMaxDepth) __builtin_trap();
            depth.insert(r.id, d);
        }
    }
    for (auto it = tree.imageFolders.cbegin(); it != tree.imageFolders.cend(); ++it)
        if (it.key() < 0 || !depth.contains(it.value())) __builtin_trap();
    // What is saved again reads back the same.
    ImageTreeData again;
    if (!ImageTreeBlob::decodeTree(tree.folders.size(), ImageTreeBlob::encodeFolders(tree.folders),
                                   tree.imageFolders.size(), ImageTreeBlob::encodeFiles(tree.imageFolders), &again,
                                   &why))
        __builtin_trap();
    if (!(again.folders == tree.folders) || again.imageFolders != tree.imageFolders) __builtin_trap();
    return 0;
}
