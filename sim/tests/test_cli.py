"""The command line (port report, shutdown, seeds refused at start)."""

import copy
import json
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

import support
from support import ACCESS_KEY, SECRET, SEED
from cloudsim.client import ControlClient, QueryClient

SCRIPT = os.path.join(support.SIM_DIR, "tavrosim.py")


class CommandLine(unittest.TestCase):
    @staticmethod
    def _reap(proc):
        if proc.poll() is None:
            proc.kill()
        proc.communicate(timeout=60)

    def test_serves_until_shut_down_and_exits_cleanly(self):
        """Shut down through the control interface (the C++ end-to-end tests end theirs with
        SIGTERM)."""
        tmp = tempfile.mkdtemp(prefix="tavrosim-cli-")
        self.addCleanup(shutil.rmtree, tmp, True)
        port_file = os.path.join(tmp, "port")
        proc = subprocess.Popen(
            [sys.executable, SCRIPT, "--port", "0", "--port-file", port_file, "--seed", SEED,
             "--accounts", "AKIDCLI:cli-secret", "--loop", "link", "--version", "V9.7",
             "--dev-root", os.path.join(tmp, "dev"), "--dmi-path", os.path.join(tmp, "none")],
            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        self.addCleanup(self._reap, proc)
        line = proc.stdout.readline()
        self.assertIn("tavrosim listening on port", line, line or proc.stderr.read())
        port = int(line.split("port ")[1].split()[0])
        with open(port_file) as f:
            self.assertEqual(port, int(f.read()))
        q = QueryClient("127.0.0.1", port, "AKIDCLI", "cli-secret")
        self.assertEqual("V9.7", q.call("GetCloudVersion").findtext(".//version"))
        QueryClient("127.0.0.1", port, ACCESS_KEY, SECRET).call("DescribeCloud")
        ControlClient("127.0.0.1", port).post("/shutdown")
        self.assertEqual(0, proc.wait(timeout=60))

    def test_seeds_a_later_request_would_trip_over_are_refused_at_start(self):
        with open(SEED) as f:
            good = json.load(f)
        web_root = ("instances", 1, "volumes", 0)
        cases = [  # name, where in the seed, value, words of the refusal
            ("volume of one and a half GiB", web_root + ("size",), 1.5,
             ["vol-web01-root", "'size'", "whole number of GiB", "1.5"]),
            ("volume size as text", web_root + ("size",), "2", ["vol-web01-root", '"2"']),
            ("empty free volume", ("volumes", 0, "size"), 0, ["vol-spare-01", "at least 1"]),
            ("image size in fractions", ("images", 0, "size"), 8.5e9,
             ["img-centos7-x64", "'size'"]),
            ("node load as text", ("nodes", 0, "cpu_used"), "4", ["node-a1", "'cpu_used'"]),
            ("storage space negative", ("storages", 0, "space_max"), -1,
             ["st-ceph-01", "'space_max'"]),
            ("instance type memory as a flag", ("instance_types", 0, "ram"), True,
             ["ts.small", "'ram'"]),
            ("storage parameters as a list", ("storages", 0, "parameters"), ["pool"],
             ["st-ceph-01 parameters"]),
            ("secret key as a number", ("accounts", "AKIDTAVROSIMDEMO0001"), 1234,
             ["accounts"]),
            ("page size of nothing", ("config", "default_page_size"), 0,
             ["default_page_size"]),
            ("volumes as one object", ("volumes",), {"id": "vol-x"}, ["'volumes'"]),
        ]
        tmp = tempfile.mkdtemp(prefix="tavrosim-cli-")
        self.addCleanup(shutil.rmtree, tmp, True)
        path = os.path.join(tmp, "seed.json")
        for name, where, value, words in cases:
            with self.subTest(name):
                seed = copy.deepcopy(good)
                parent = seed
                for key in where[:-1]:
                    parent = parent[key]
                parent[where[-1]] = value
                with open(path, "w") as f:
                    json.dump(seed, f)
                done = subprocess.run(
                    [sys.executable, SCRIPT, "--port", "0", "--seed", path, "--loop", "link",
                     "--dev-root", os.path.join(tmp, "dev")],
                    stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, timeout=60)
                self.assertEqual(2, done.returncode, done.stderr)
                self.assertEqual("", done.stdout)
                self.assertIn("seed %s refused" % path, done.stderr)
                for word in words:
                    self.assertIn(word, done.stderr)
                self.assertNotIn("Traceback", done.stderr)


if __name__ == "__main__":
    unittest.main()
