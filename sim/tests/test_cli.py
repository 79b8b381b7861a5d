"""The command line (port report, shutdown)."""

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


if __name__ == "__main__":
    unittest.main()
