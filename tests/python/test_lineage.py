"""A lineage built through the verbs, and the standing its receipt reports."""
import quintrel


def test_standing_follows_the_lineage(writer):
    def tree(n):
        return f"{n:040x}"

    def accepted(commit):
        assert commit.accepted, commit
        return commit.id

    root = accepted(writer.candidate("bot", tree(1)))
    eval_root = accepted(writer.evaluate("bot", root, "tests", passed=True))
    first = accepted(writer.select("alice", "ship", [root], choose=[root], uses_eval=[eval_root]))
    left = accepted(writer.candidate("bot", tree(2), continues=first, parent=root))
    right = accepted(writer.candidate("bot", tree(3), continues=first, parent=root))
    evals = [accepted(writer.evaluate("bot", c, "tests", score=9, scale=1)) for c in (left, right)]
    merged = accepted(writer.candidate("bot", tree(4), derives_from=[left, right]))
    upgraded = accepted(writer.candidate("bot", tree(4), upgrades=merged, note="same tree, new toolchain"))
    eval_upgraded = accepted(writer.evaluate("bot", upgraded, "tests", passed=True))
    final = accepted(writer.select("alice", "merge", [left, right, merged, upgraded], choose=[upgraded],
                                   uses_eval=evals + [eval_upgraded]))

    report = quintrel.validate(writer.receipt(["quintrel-core-v1"]))
    assert report.is_clean
    assert report.standing == {"compromised": [], "unsound": [], "restorations": {}}

    assert accepted(writer.retract("bot", root, "the root was built from the wrong tree"))
    # the first selection chose the root and is withdrawn with it; a
    # reaffirmation of its objective restores it, but chooses another parent
    again = accepted(writer.select("alice", "ship", [root], none=True, replaces=first))
    report = quintrel.validate(writer.receipt(["quintrel-core-v1"]))
    assert report.status == "tainted"
    assert report.retracted == [root]
    # what Uses or Requires the root is tainted
    assert report.tainted == sorted([eval_root, first])
    # the continuations rest on the root as their parent, and what derives from them on them
    assert report.standing == {
        "compromised": sorted([root, left, right, merged, upgraded]),
        "unsound": [first],
        "restorations": {first: [again]},
    }
    # the last selection stands: it chose a candidate, not a lineage
    assert final not in report.standing["unsound"]
    assert report.profiles[0]["met"] is True
