// A scoped lock over a mutex handle: construction waits for the mutex, destruction releases it.
// Failures are thrown as xMutexLock::Exception. A lock on a null handle does nothing at all.
// The lock never opens or closes the handle it is given.
#pragma once

#include <cstdint>
#include <string>

#include "platform/platform.h"

namespace cv {

class xMutexLock {
  public:
    class Exception {
      public:
        Exception(std::string message, std::string file, int32_t line)
            : message_(std::move(message)), file_(std::move(file)), line_(line) {}
        virtual ~Exception() = default;
        virtual std::string message() const { return message_; }
        virtual std::string file() const { return file_; }
        virtual int32_t line() const { return line_; }

      private:
        std::string message_;
        std::string file_;
        int32_t line_;
    };

    // Waits up to wait_ms milliseconds (kWaitInfinite: without limit). Throws Exception when the
    // wait times out, the mutex was abandoned by its previous owner, or the wait fails.
    xMutexLock(MutexHandle handle, uint32_t wait_ms);
    // Releases the mutex. A failed release is thrown as Exception unless another exception is
    // already on its way out, in which case it is dropped so that the first one survives.
    virtual ~xMutexLock() noexcept(false);

    xMutexLock(const xMutexLock&) = delete;
    xMutexLock& operator=(const xMutexLock&) = delete;

  private:
    MutexHandle handle_;
    uint32_t wait_ms_;
};

}  // namespace cv
