// The payload of a Plan: a provider's list of tasks for answering a request.
//
// Plan enumerations are written in lower snake case. A task object may leave
// out "kind", "inputs_from", "done_when" and "depends_on" (defaults) and the
// optional "tool_hint", "produces" and "result_record_id"; every key is
// written back. The array form of a task may stop early only before fields
// with a default there ("kind", "inputs_from", "produces", "done_when",
// "depends_on"), so with "on_failure" last it always needs all eleven.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/codec.h"

namespace quintrel::record {

enum class PlanStatus : uint8_t { running, completed, abandoned };
enum class PlanTaskKind : uint8_t { generic, inspect, search, extract, verify, write, summarize };
enum class TaskDoneWhen : uint8_t { tool_success, non_empty_result, content_retrieved, final_response };
enum class TaskStatus : uint8_t { pending, running, done, failed, skipped };
// `continue` is a C++ keyword; its JSON name is "continue".
enum class FailurePolicy : uint8_t { continue_, ask_user, abort };

struct PlanTask {
  std::string id;
  std::string description;
  PlanTaskKind kind = PlanTaskKind::generic;
  std::optional<std::string> tool_hint;
  std::vector<std::string> inputs_from;
  std::optional<std::string> produces;
  TaskDoneWhen done_when = TaskDoneWhen::tool_success;
  TaskStatus status = TaskStatus::pending;
  std::optional<base::Id> result_record_id;
  std::vector<std::string> depends_on;
  FailurePolicy on_failure = FailurePolicy::continue_;

  bool operator==(const PlanTask&) const = default;
};

struct PlanData {
  base::Id request_id{};
  std::vector<PlanTask> tasks;  // author's order; an empty list reads
  PlanStatus status = PlanStatus::running;

  bool operator==(const PlanData&) const = default;
};

}  // namespace quintrel::record

namespace quintrel::base {

template <>
struct EnumNames<record::PlanStatus> {
  static constexpr std::string_view names[] = {"running", "completed", "abandoned"};
};
template <>
struct EnumNames<record::PlanTaskKind> {
  static constexpr std::string_view names[] = {"generic", "inspect", "search",   "extract",
                                               "verify",  "write",   "summarize"};
};
template <>
struct EnumNames<record::TaskDoneWhen> {
  static constexpr std::string_view names[] = {"tool_success", "non_empty_result", "content_retrieved",
                                               "final_response"};
};
template <>
struct EnumNames<record::TaskStatus> {
  static constexpr std::string_view names[] = {"pending", "running", "done", "failed", "skipped"};
};
template <>
struct EnumNames<record::FailurePolicy> {
  static constexpr std::string_view names[] = {"continue", "ask_user", "abort"};
};

template <>
struct Fields<record::PlanTask> {
  using T = record::PlanTask;
  static constexpr std::string_view name = "PlanTask";
  // Enumeration defaults are spelled out so that reordering a list of names
  // cannot change them. "tool_hint" and "result_record_id" are optional
  // without a default: missing from an object they are absent, but the array
  // form must give them.
  static constexpr auto fields = std::make_tuple(
      field("id", &T::id), field("description", &T::description),
      field("kind", &T::kind, kDefault, [](record::PlanTaskKind& k) { k = record::PlanTaskKind::generic; }),
      field("tool_hint", &T::tool_hint), field("inputs_from", &T::inputs_from, kDefault),
      field("produces", &T::produces, kDefault),
      field("done_when", &T::done_when, kDefault,
            [](record::TaskDoneWhen& d) { d = record::TaskDoneWhen::tool_success; }),
      field("status", &T::status), field("result_record_id", &T::result_record_id),
      field("depends_on", &T::depends_on, kDefault), field("on_failure", &T::on_failure));
};

template <>
struct Fields<record::PlanData> {
  using T = record::PlanData;
  static constexpr std::string_view name = "PlanData";
  static constexpr auto fields =
      std::make_tuple(field("request_id", &T::request_id), field("tasks", &T::tasks), field("status", &T::status));
};

}  // namespace quintrel::base
