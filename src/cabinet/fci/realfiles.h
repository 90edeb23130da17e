#pragma once
// Callbacks of the cabinet library over real files and the C heap, shared by
// the builder, the command line and the benchmarks. Handles are POSIX file
// descriptors, always opened with O_CLOEXEC; error numbers are errno values.
// Each function is safe to call from any thread; none uses the client context.
#include <cstdint>

#include "cabinet/fci/fci.h"

namespace ravelin::fci::real {

// malloc / free.
void* allocate(uint32_t cb);
void release(void* memory);

// Opens an existing file: the library's access, append, truncate and
// exclusive flags become O_RDONLY/O_WRONLY/O_RDWR, O_APPEND, O_TRUNC, O_EXCL;
// kOpenCreate is ignored, so a file is never created here. -1 with errno in
// *err on failure.
intptr_t openFile(char* path, int oflag, int pmode, int* err, void* pv);
// Reads up to cb bytes (fewer only at the end of the file) / writes all cb,
// retrying short transfers; the count moved, or uint32_t(-1) with errno in
// *err on an error (a write that moves nothing is ENOSPC).
uint32_t readFile(intptr_t hf, void* memory, uint32_t cb, int* err, void* pv);
uint32_t writeFile(intptr_t hf, void* memory, uint32_t cb, int* err, void* pv);
// 0, or -1 with errno in *err.
int closeFile(intptr_t hf, int* err, void* pv);
// The new position, or -1 with errno in *err.
long seekFile(intptr_t hf, long dist, int seektype, int* err, void* pv);
// 0 when deleted, otherwise the errno value as the result; *err untouched.
// The path is no longer one the signal handler removes.
int deleteFile(char* path, int* err, void* pv);
// Makes an empty file "tpXXXXXX" (mkstemp) in the temporary directory
// ($TMPDIR when set and not empty, else /tmp; at most 255 characters) and
// writes its path into the buffer; the file is registered with
// io::registerTemporary so a stopped process leaves none behind. False, creating nothing, when the
// directory is too long, the name does not fit cbTempName bytes with its
// terminator, or the file cannot be made.
int tempFileName(char* buffer, int cbTempName, void* pv);
// Does nothing; 0.
int filePlaced(CCAB* pccab, char* pszFile, int32_t cbFile, int fContinuation, void* pv);
// Does nothing; 0 for every notice.
long status(uint32_t typeStatus, uint32_t cb1, uint32_t cb2, void* pv);

// The temporary directory tempFileName uses.
const char* temporaryDirectory();

} // namespace ravelin::fci::real
