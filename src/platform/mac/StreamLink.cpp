#include "platform/mac/StreamLink.hpp"

#include <algorithm>

namespace mirevo::platform::mac {

void StreamLink::add(int outputType, std::shared_ptr<StreamOutput> output,
                     std::shared_ptr<SerialQueue> queue) {
  if (!reportQueue_) reportQueue_ = queue;
  entries_[outputType] = Entry{std::move(output), std::move(queue)};
}

std::vector<int> StreamLink::outputTypes() const {
  std::vector<int> types;
  for (const auto& entry : entries_) types.push_back(entry.first);
  return types;
}

void StreamLink::deliver(const SampleBuffer& buffer, int outputType) {
  if (!gate_.passesBuffers()) return;
  const auto entry = entries_.find(outputType);
  if (entry != entries_.end()) entry->second.output->didOutputSampleBuffer(buffer, outputType);
}

void StreamLink::reportStop(const Error& error) {
  if (!delegate_ || !gate_.takeStopReport()) return;
  if (!reportQueue_) {
    delegate_->didStopWithError(error);
    return;
  }
  reportQueue_->async([link = shared_from_this(), error] {
    if (link->gate_.open()) link->delegate_->didStopWithError(error);
  });
}

void StreamLink::close() {
  gate_.close();
  std::vector<SerialQueue*> waited;
  for (const auto& entry : entries_) {
    SerialQueue* queue = entry.second.queue.get();
    if (std::find(waited.begin(), waited.end(), queue) != waited.end()) continue;
    waited.push_back(queue);
    // Runs in place on the queue itself, where nothing else can be running.
    queue->sync([] {});
  }
}

}  // namespace mirevo::platform::mac
