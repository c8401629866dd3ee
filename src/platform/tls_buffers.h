// The buffers that every TLS engine keeps between its caller and its library:
// received ciphertext waiting to be taken in, and ciphertext waiting to be
// sent. Each engine consumes input and appends output in its own way.
#pragma once

#include <algorithm>
#include <vector>

#include "platform/tls_session.h"

namespace platform {

class TlsBufferedSession : public TlsSession {
 public:
  std::span<char> InputSpace() override {
    // The engines take all the input whenever they need more, and the buffer
    // then starts over at its front; it fills only when more is received
    // without a step between.
    if (inputEnd_ == input_.size()) input_.resize(input_.size() * 2);
    return {input_.data() + inputEnd_, input_.size() - inputEnd_};
  }

  void InputReceived(std::size_t count) override {
    inputEnd_ = std::min(inputEnd_ + count, input_.size());
  }

  std::span<const char> PendingOutput() const override {
    return {output_.data() + outputBegin_, output_.size() - outputBegin_};
  }

  void OutputSent(std::size_t count) override {
    outputBegin_ = std::min(outputBegin_ + count, output_.size());
    if (outputBegin_ == output_.size()) {
      output_.clear();
      outputBegin_ = 0;
    }
  }

 protected:
  // Large enough for several full TLS records, so one receive can bring many.
  std::vector<char> input_ = std::vector<char>(128 * 1024);
  std::size_t inputEnd_ = 0;
  std::vector<char> output_;

 private:
  std::size_t outputBegin_ = 0;
};

}  // namespace platform
