// Loaded into tessel-cli by a test (LD_PRELOAD), in place of sendmsg: once
// the program has asked its network helper for a neighbour entry, its next
// request to remove one is held back for good, after a mark file
// (TESSEL_TEST_HOLD_MARK) says so. The test can then kill the program while the helper's entry is in the
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
    return data != nullptr && size >= length && std::memcmp(data, word, length) == 0;
}

bool g_entryAsked = false;

}  // namespace

extern "C" ssize_t sendmsg(int fd, const msghdr* message, int flags)
{
    using SendMessage = ssize_t (*)(int, const msghdr*, int);
    static const auto real = reinterpret_cast<SendMessage>(::dlsym(RTLD_NEXT, "sendmsg"));
    const void* data = message->msg_iovlen > 0 ? message->msg_iov[0].iov_base : nullptr;
    const std::size_t size = message->msg_iovlen > 0 ? message->msg_iov[0].iov_len : 0;
    if (StartsWith(data, size, "add-neighbour ")) g_entryAsked = true;
    if (g_entryAsked && StartsWith(data, size, "remove-neighbour ")) {
        if (const char* mark = std::getenv("TESSEL_TEST_HOLD_MARK")) {
            const int file = ::open(mark, O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
            if (file >= 0) ::close(file);
        }
        for (;;) ::pause();
    }
    return real(fd, message, flags);
}
