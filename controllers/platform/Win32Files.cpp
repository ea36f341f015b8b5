#include "controllers/platform/Win32Files.h"

#include "controllers/platform/Win32Api.h"

#include <io.h>

namespace win32 {

bool flushFile(int descriptor) {
    const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(descriptor));
    return handle != INVALID_HANDLE_VALUE && FlushFileBuffers(handle);
}

bool moveFileWriteThrough(const wchar_t *from, const wchar_t *to, bool replace) {
    return MoveFileExW(from, to, MOVEFILE_WRITE_THROUGH | (replace ? MOVEFILE_REPLACE_EXISTING : 0));
}

} // namespace win32
