// libFuzzer: any input is refused with a reason, or survives a round trip unchanged.
#include "sound/BinaryPlist.h"
#include "sound/KeyedArchive.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes =
        QByteArray::fromRawData(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    QString error;
    orvix::archive::NodePtr root = orvix::archive::decodeArchive(bytes, error);
    if (!root) {
        if (error.isEmpty())
            std::abort(); // a refusal always says why
        return 0;
    }
    const QByteArray again = orvix::archive::encodeArchive(root);
    QString error2;
    orvix::archive::NodePtr reread = orvix::archive::decodeArchive(again, error2);
    if (!reread || !orvix::archive::sameGraph(root, reread))
        std::abort();
    if (orvix::archive::encodeArchive(reread) != again)
        std::abort(); // the writer is deterministic
    return 0;
}
