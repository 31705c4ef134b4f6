// System calls of the input layer, shared by its reading and its read-ahead.
#ifndef FAST_INPUT_IO_HPP
#define FAST_INPUT_IO_HPP

#include <cerrno>
#include <cstddef>

#include <poll.h>
#include <unistd.h>

namespace fast {

// read(2) that resumes after a signal.
inline ssize_t readSome(int fd, void *buf, std::size_t n) noexcept {
    for (;;) {
        const ssize_t got = ::read(fd, buf, n);
        if (got >= 0 || errno != EINTR) return got;
    }
}

// Waits until fd has something to read or wake_fd is signalled; false for the latter.
inline bool waitReadable(int fd, int wake_fd) noexcept {
    if (wake_fd < 0) return true;
    pollfd fds[2] = {{fd, POLLIN, 0}, {wake_fd, POLLIN, 0}};
    while (::poll(fds, 2, -1) < 0)
        if (errno != EINTR) return true;  // let read() report what is wrong
    return (fds[1].revents & POLLIN) == 0;
}

}  // namespace fast

#endif
