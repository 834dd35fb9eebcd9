#include "platform/pulse/PulseQueries.hpp"

#include <pulse/def.h>
#include <pulse/introspect.h>
#include <pulse/proplist.h>

namespace mirevo::platform::pulse {
namespace {

std::string textOf(const char* text) {
  return text != nullptr ? text : "";
}

Owner ownerOf(std::uint32_t module, const pa_proplist* properties) {
  Owner owner;
  owner.module = module == PA_INVALID_INDEX ? Owner::kNoModule : module;
  if (properties != nullptr) {
    owner.linkGroup = textOf(pa_proplist_gets(properties, "node.link-group"));
  }
  return owner;
}

// A client's own stream has no owning module: PulseAudio names its protocol
// module for every client's stream, which would tie any two of them together.
std::uint32_t streamModule(std::uint32_t module, std::uint32_t client) {
  return client == PA_INVALID_INDEX ? module : PA_INVALID_INDEX;
}

void collectServer(pa_context*, const pa_server_info* info, void* into) {
  if (info == nullptr) return;
  auto* defaults = static_cast<ServerDefaults*>(into);
  defaults->sink = textOf(info->default_sink_name);
  defaults->source = textOf(info->default_source_name);
}

SourceInfo sourceOf(const pa_source_info& info) {
  return {textOf(info.name), textOf(info.description), info.monitor_of_sink != PA_INVALID_INDEX,
          info.index, ownerOf(info.owner_module, info.proplist)};
}

void collectSource(pa_context*, const pa_source_info* info, int eol, void* into) {
  if (eol != 0 || info == nullptr) return;
  static_cast<std::vector<SourceInfo>*>(into)->push_back(sourceOf(*info));
}

void collectSink(pa_context*, const pa_sink_info* info, int eol, void* into) {
  if (eol != 0 || info == nullptr) return;
  static_cast<std::vector<SinkInfo>*>(into)->push_back(
      {textOf(info->name), textOf(info->description), textOf(info->monitor_source_name),
       info->index, ownerOf(info->owner_module, info->proplist)});
}

void collectSinkInput(pa_context*, const pa_sink_input_info* info, int eol, void* into) {
  if (eol != 0 || info == nullptr) return;
  static_cast<std::vector<SinkInputInfo>*>(into)->push_back(
      {info->sink, info->corked != 0,
       ownerOf(streamModule(info->owner_module, info->client), info->proplist)});
}

void collectSourceOutput(pa_context*, const pa_source_output_info* info, int eol, void* into) {
  if (eol != 0 || info == nullptr) return;
  static_cast<std::vector<SourceOutputInfo>*>(into)->push_back(
      {info->source, ownerOf(streamModule(info->owner_module, info->client), info->proplist)});
}

}  // namespace

ServerDefaults serverDefaults(PulseConnection& connection) {
  ServerDefaults defaults;
  connection.await(pa_context_get_server_info(connection.context(), &collectServer, &defaults));
  return defaults;
}

std::vector<SourceInfo> listSources(PulseConnection& connection) {
  std::vector<SourceInfo> sources;
  connection.await(pa_context_get_source_info_list(connection.context(), &collectSource, &sources));
  return sources;
}

std::vector<SinkInfo> listSinks(PulseConnection& connection) {
  std::vector<SinkInfo> sinks;
  connection.await(pa_context_get_sink_info_list(connection.context(), &collectSink, &sinks));
  return sinks;
}

std::vector<SinkInputInfo> listSinkInputs(PulseConnection& connection) {
  std::vector<SinkInputInfo> inputs;
  connection.await(
      pa_context_get_sink_input_info_list(connection.context(), &collectSinkInput, &inputs));
  return inputs;
}

std::vector<SourceOutputInfo> listSourceOutputs(PulseConnection& connection) {
  std::vector<SourceOutputInfo> outputs;
  connection.await(
      pa_context_get_source_output_info_list(connection.context(), &collectSourceOutput, &outputs));
  return outputs;
}

std::optional<SourceInfo> findSource(PulseConnection& connection, const std::string& name) {
  // An unknown name ends the query with an error and no entry; that is the
  // answer "none", not a failure.
  std::vector<SourceInfo> found;
  connection.await(pa_context_get_source_info_by_name(connection.context(), name.c_str(),
                                                      &collectSource, &found));
  if (found.empty()) return std::nullopt;
  return found.front();
}

ServerDevices serverDevices(PulseConnection& connection) {
  return {serverDefaults(connection), listSinks(connection), listSources(connection),
          listSinkInputs(connection), listSourceOutputs(connection)};
}

}  // namespace mirevo::platform::pulse
