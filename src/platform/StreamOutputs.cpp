#include "platform/StreamOutputs.hpp"

#include "platform/SerialQueue.hpp"

namespace mirevo::platform {
namespace {

// The bytes of audio a buffer holds, from its format and frame count: 0 for a
// buffer without a PCM format.
std::size_t audioBytes(const SampleBuffer& buffer) {
  const std::int64_t frames = buffer.numSamples();
  const auto format = buffer.formatDescription();
  if (!format || frames <= 0) return 0;
  return static_cast<std::size_t>(frames) * format->channelCount *
         bytesPerSample(format->sampleType);
}

}  // namespace

StreamOutputs::StreamOutputs(std::size_t budgetBytes) : budgetBytes_(budgetBytes) {}

void StreamOutputs::add(int outputType, std::shared_ptr<StreamOutput> output,
                        std::shared_ptr<SerialQueue> queue) {
  entries_[outputType] = Entry{std::move(output), std::move(queue)};
}

std::vector<int> StreamOutputs::types() const {
  std::vector<int> types;
  for (const auto& [type, entry] : entries_) types.push_back(type);
  return types;
}

bool StreamOutputs::deliver(int outputType, std::shared_ptr<const SampleBuffer> buffer,
                            int reportedType) const {
  const auto entry = entries_.find(outputType);
  if (entry == entries_.end()) return false;
  const std::size_t bytes = audioBytes(*buffer);
  if (!reserve(bytes)) return false;
  entry->second.queue->async([shared = shared_, output = entry->second.output,
                              buffer = std::move(buffer), reportedType, bytes] {
    {
      std::lock_guard lock(shared->gate);
      if (shared->open) output->didOutputSampleBuffer(*buffer, reportedType);
    }
    // Only now: while an output call is blocked (writing an event), its
    // buffer still counts.
    shared->backlogBytes.fetch_sub(bytes, std::memory_order_relaxed);
  });
  return true;
}

bool StreamOutputs::reserve(std::size_t bytes) const {
  std::size_t held = shared_->backlogBytes.load(std::memory_order_relaxed);
  if (shared_->dropping.load(std::memory_order_relaxed)) {
    if (held > budgetBytes_ / 2) return false;
    shared_->dropping.store(false, std::memory_order_relaxed);
  }
  do {
    if (bytes > budgetBytes_ - held) {
      shared_->dropping.store(true, std::memory_order_relaxed);
      return false;
    }
  } while (
      !shared_->backlogBytes.compare_exchange_weak(held, held + bytes, std::memory_order_relaxed));
  return true;
}

std::size_t StreamOutputs::backlogBytes() const {
  return shared_->backlogBytes.load(std::memory_order_relaxed);
}

void StreamOutputs::close() {
  std::lock_guard lock(shared_->gate);
  shared_->open = false;
}

}  // namespace mirevo::platform
