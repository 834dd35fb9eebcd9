#include "platform/pulse/StreamOutputs.hpp"

#include "platform/SerialQueue.hpp"

namespace mirevo::platform::pulse {

void StreamOutputs::add(int outputType, std::shared_ptr<StreamOutput> output,
                        std::shared_ptr<SerialQueue> queue) {
  entries_[outputType] = Entry{output, std::move(queue)};
}

void StreamOutputs::deliver(int outputType, std::shared_ptr<const SampleBuffer> buffer) const {
  const auto entry = entries_.find(outputType);
  if (entry == entries_.end()) return;
  entry->second.queue->async(
      [gate = gate_, output = entry->second.output, buffer = std::move(buffer), outputType] {
        std::lock_guard lock(gate->mutex);
        if (gate->open) output->didOutputSampleBuffer(*buffer, outputType);
      });
}

void StreamOutputs::close() {
  std::lock_guard lock(gate_->mutex);
  gate_->open = false;
}

}  // namespace mirevo::platform::pulse
