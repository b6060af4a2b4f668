// The known schemas, named in code by an enumeration and described by one
// table: each schema's name, the kind of record it serves, the evidence class
// it gives a record by itself and its payload type.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "base/id.h"
#include "record/evidence.h"
#include "record/kind.h"

namespace quintrel::record {

class Payload;

enum class Schema : uint8_t {
  Request, Action, Response, Result, ResultExternalReceipt, ResultEffectConfirmation, Capability, Approval,
  Summary, Refusal, Usage, Verdict, Plan, Retraction, Candidate, Evaluation, Selection, Requirement,
  EvaluationV2, EvaluationAttested,
};
inline constexpr size_t kSchemaCount = 20;

struct SchemaInfo {
  Schema schema;
  std::string_view name;  // "quintrel.request.v1"
  Kind kind;
  Evidence base_evidence;
  // The payload type, as the test that `data` reads as it and writes back
  // canonically to the same bytes.
  bool (*payload_canonical)(std::string_view data);
  // The same test on a record's payload read through `payload`, which keeps
  // the read for the record's other checks.
  bool (*payload_canonical_in)(const Payload& payload);
};

// The table, in the order of the enumeration.
std::span<const SchemaInfo, kSchemaCount> schemas();
inline const SchemaInfo& schema_info(Schema s) { return schemas()[static_cast<size_t>(s)]; }

// The SHA-256 of the schema's name, computed once.
const base::Id& schema_id(Schema s);

// The known schema with this id, or none.
std::optional<Schema> find_schema(const base::Id& id);

}  // namespace quintrel::record
