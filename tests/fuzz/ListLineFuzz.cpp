// Fuzz target: arbitrary bytes as a list file and as single lines, through the splitter, the
// line parser and the target-path resolution.
#include "updatelist/DownFileItem.h"
#include "updatelist/ListFile.h"
#include "updatelist/StringUtil.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    for (const std::string& piece : SplitListPieces(bytes)) {
        if (piece.size() > kListPieceMax)
            __builtin_trap();
        DownFileItem item;
        if (item.ParseListLine(piece)) {
            if (!item.m_strModifyTime.empty() && item.m_strModifyTime.size() < 14)
                __builtin_trap();
            item.MakeTargetFilePath(size % 2 == 0 ? "C:\\Lumen" : "/opt/lumen/");
        }
    }
    std::vector<std::string> fields;
    SplitString(fields, size > 0 ? bytes.substr(0, 1) : ",", bytes);
    std::size_t total = 0;
    for (const std::string& field : fields)
        total += field.size();
    if (total > bytes.size())
        __builtin_trap();
    std::string grouped;
    FormatWithCommas(bytes.substr(0, 64), grouped);
    return 0;
}
