#include "record/kind.h"

namespace quintrel::record {

std::span<const AuthorType> allowed_author_types(Kind kind) {
  using A = AuthorType;
  static constexpr A kUser[] = {A::User};
  static constexpr A kProvider[] = {A::Provider};
  static constexpr A kExecutor[] = {A::Executor};
  static constexpr A kVerifier[] = {A::Verifier};
  static constexpr A kUserSystem[] = {A::User, A::System};
  static constexpr A kProviderSystem[] = {A::Provider, A::System};
  static constexpr A kUserProviderSystem[] = {A::User, A::Provider, A::System};
  static constexpr A kAllButVerifier[] = {A::User, A::Provider, A::Executor, A::System};
  switch (kind) {
    case Kind::Request: return kUser;
    case Kind::Action: return kProvider;
    case Kind::Response: return kProvider;
    case Kind::Result: return kExecutor;
    case Kind::Summary: return kProvider;
    case Kind::Approval: return kUser;
    case Kind::Capability: return kUserSystem;
    case Kind::Usage: return kProviderSystem;
    case Kind::Refusal: return kUserSystem;
    case Kind::Verdict: return kVerifier;
    case Kind::Plan: return kProvider;
    case Kind::Retraction: return kUserProviderSystem;
    case Kind::Candidate: return kAllButVerifier;
    case Kind::Evaluation: return kAllButVerifier;
    case Kind::Selection: return kUserProviderSystem;
    case Kind::Requirement: return kUserProviderSystem;
  }
  return {};
}

}  // namespace quintrel::record
