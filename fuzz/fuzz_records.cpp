// Feeds bytes to the reader of backup records (the file beside a backup picture) as a damaged or
// hand-made file would hand them over. Records the reader accepts must name only the meshes they
// list and must come back the same when written and read again.
#include <QByteArray>
#include <QString>
#include <cstddef>
#include <cstdint>

#include "BackupRecords.h"

using orvUI::BackupRecords;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), int(size));
    BackupRecords records;
    QString why;
    if (!records.parse(bytes, &why)) {
        if (why.isEmpty()) __builtin_trap();
        return 0;
    }
    for (const orvUI::BackupTriangle& t : records.triangles())
        if (int(t.mesh) >= records.meshes().size()) __builtin_trap();
    const QByteArray written = records.serialise();
    BackupRecords again;
    if (!again.parse(written, &why)) __builtin_trap();
    if (again.serialise() != written) __builtin_trap();
    return 0;
}
