// Loaded into tessel-cli by a test (LD_PRELOAD): once the program has asked
// its network helper for a neighbour entry, its next request to remove one
// is held back for good, after a mark file (TESSEL_TEST_HOLD_MARK) says so.
// The test can then kill the program while the helper's entry is in the
// table, and see whether the helper removes it when its parent is gone.
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

namespace {

bool StartsWith(const void* data, std::size_t size, const char* word)
{
    const std::size_t length = std::strlen(word);
    return size >= length && std::memcmp(data, word, length) == 0;
}

bool g_entryAsked = false;

}  // namespace

extern "C" ssize_t send(int fd, const void* data, std::size_t size, int flags)
{
    using Send = ssize_t (*)(int, const void*, std::size_t, int);
    static const auto real = reinterpret_cast<Send>(::dlsym(RTLD_NEXT, "send"));
    if (StartsWith(data, size, "add-neighbour ")) g_entryAsked = true;
    if (g_entryAsked && StartsWith(data, size, "remove-neighbour ")) {
        if (const char* mark = std::getenv("TESSEL_TEST_HOLD_MARK")) {
            const int file = ::open(mark, O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
            if (file >= 0) ::close(file);
        }
        for (;;) ::pause();
    }
    return real(fd, data, size, flags);
}
