#!/usr/bin/env python3
"""Checks that bench_table.py pairs runs with their peers, picks the right
figure of each run and judges the aims, on small JSON files of known
content."""
import json
import os
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import bench_table  # noqa: E402


def run(name, cpu=None, unit="ns", rate=None, **extra):
    r = {"name": name, "run_name": extra.pop("run_name", name), "run_type": "iteration",
         "cpu_time": cpu if cpu is not None else 1.0, "time_unit": unit}
    if rate is not None:
        r["items_per_second"] = rate
    r.update(extra)
    return r


class BenchTable(unittest.TestCase):
    def table(self, programs):
        with tempfile.TemporaryDirectory() as directory:
            for program, runs in programs.items():
                with open(os.path.join(directory, program + ".json"), "w") as f:
                    json.dump({"benchmarks": runs}, f)
            return bench_table.rows(bench_table.load(directory))

    def test_message_rows_pair_every_peer_and_judge_the_aims(self):
        rows = self.table({
            "serializer_bench": [run("BM_SimpleSerialize", rate=4e6), run("BM_HandEncoder", rate=1e7),
                                 run("BM_Xdr", rate=2e6)],
            "nanopb_bench": [run("BM_NanopbEncode", rate=2.5e5)],
        })
        self.assertEqual(rows, [
            ("serialize message, one call (msg/s)", "4 M/s", "hand-written encoder", "10 M/s", "0.4",
             ">= 0.5: **missed**"),
            ("", "", "XDR (libtirpc)", "2 M/s", "2", "> 1: met"),
            ("", "", "nanopb encode", "250 k/s", "16", ""),
        ])

    def test_repeated_runs_stand_by_their_median(self):
        rows = self.table({"serializer_bench": [
            run("BM_SimpleSerialize", rate=1e6),
            run("BM_SimpleSerialize_mean", run_name="BM_SimpleSerialize", run_type="aggregate",
                aggregate_name="mean", rate=9e9),
            run("BM_SimpleSerialize_median", run_name="BM_SimpleSerialize", run_type="aggregate",
                aggregate_name="median", rate=3e6),
            run("BM_SimpleSerialize", rate=5e6),
            run("BM_HandEncoder", rate=6e6),
        ]})
        self.assertEqual(rows[0][1], "3 M/s")
        self.assertEqual(rows[0][4], "0.5")

    def test_times_convert_units_and_failed_runs_are_left_out(self):
        rows = self.table({"bitmask_bench": [
            run("first/520M/last-only/ours", cpu=5.0),
            run("first/520M/last-only/flat", cpu=3.0, unit="ms"),
            run("drain/2^20/dense/ours/iterations:1024", cpu=10.0),
            run("drain/2^20/dense/flat/iterations:1024", cpu=12.0),
            run("next/2^20/dense/ours", rate=2e8),
            run("next/2^20/dense/flat", rate=2.5e8),
            run("next/2^20/dense/letter", rate=1e8, error_occurred=True),
        ]})
        self.assertIn(("bitmask first, 520M bits, last-only", "5 ns", "flat 64-bit scan", "3 ms", "6e+05",
                       ">= 1000: met"), rows)
        self.assertIn(("bitmask drain, 2^20 bits, dense", "10 ns", "flat 64-bit scan", "12 ns", "1.2", ""), rows)
        self.assertIn(("bitmask next, 2^20 bits, dense", "200 M/s", "flat 64-bit scan", "250 M/s", "0.8",
                       ">= 1: **missed**"), rows)
        self.assertFalse(any(row[2] == "one bit test per index" for row in rows))

    def test_a_run_without_peers_keeps_its_figure_and_missing_programs_add_nothing(self):
        rows = self.table({"vector_bench": [run("VectorFifo<Small>/16", cpu=4.0)]})
        self.assertEqual(rows, [("vector Fifo, Small elements, n=16", "4 ns", "", "", "", "")])
        self.assertEqual(self.table({}), [])


if __name__ == "__main__":
    unittest.main()
