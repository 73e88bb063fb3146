// Feeds arbitrary bytes to the stored-mapping reader and the property-list reader
// beneath it. Either may refuse the data, but neither may crash, read outside the
// data, recurse without limit or take unbounded time.
#include "MicrophoneMapping.h"
#include "PropertyList.h"
#include "ZedazidEdize.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes =
        QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));
    (void)PropertyList::read(bytes);
    try {
        (void)MicrophoneMapping::parse(bytes);
    } catch (const ZedazidEdize&) {
    }
    return 0;
}
