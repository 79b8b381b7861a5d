#!/usr/bin/env python3
"""Tavrocloud simulator: serves the cloud's query API on loopback for the demo and the
end-to-end tests.

  python3 sim/tavrosim.py --port 0 --seed sim/seed.json --accounts AK:SECRET \\
      --dev-root /dev

prints "tavrosim listening on port N" (and, with --port-file, writes N to that file)
once it accepts requests. SIGINT/SIGTERM stop it; every loop device it made is
detached first. At start it removes what simulators that were killed left behind
(cloudsim/reclaim.py)."""

import argparse
import json
import logging
import os
import signal
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from cloudsim import reclaim  # noqa: E402
from cloudsim.seed import SeedError  # noqa: E402
from cloudsim.server import Simulator  # noqa: E402
from cloudsim.state import Config  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))


def parse_accounts(text):
    """Accounts as "AK:SK[,AK2:SK2]" or the path of a JSON file {"AK": "SK"}."""
    if not text:
        return {}
    if os.path.isfile(text):
        with open(text) as f:
            data = json.load(f)
        if not isinstance(data, dict) or not all(isinstance(k, str) and isinstance(v, str)
                                                  for k, v in data.items()):
            raise ValueError("the accounts file holds a JSON object of strings")
        return data
    accounts = {}
    for part in text.split(","):
        key, sep, secret = part.partition(":")
        if not sep or not key or not secret:
            raise ValueError("an account is ACCESS_KEY:SECRET_KEY")
        accounts[key] = secret
    return accounts


def arguments(argv):
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--host", default="127.0.0.1", help="address to bind (loopback)")
    ap.add_argument("--port", type=int, default=0, help="port (0: a free one)")
    ap.add_argument("--port-file", help="write the port to this file once listening")
    ap.add_argument("--seed", default=os.path.join(HERE, "seed.json"),
                    help="seed JSON file (default: sim/seed.json)")
    ap.add_argument("--accounts", help="AK:SK[,AK:SK] or a JSON file {AK: SK}")
    ap.add_argument("--dev-root", default="/dev",
                    help="root of disk/by-id links for the agent's devices")
    ap.add_argument("--loop", choices=("auto", "losetup", "link"), default="auto",
                    help="local devices: loop devices, or links to backing files")
    ap.add_argument("--data-dir", help="backing files (default: a temporary folder)")
    ap.add_argument("--cloud-version", "--version", dest="cloud_version",
                    help="the version GetCloudVersion answers, e.g. V9.7")
    ap.add_argument("--transition-polls", type=int,
                    help="polls that show a transitional state (default 1)")
    ap.add_argument("--page-size", type=int, help="default page size of listings")
    ap.add_argument("--unlisted-describes", type=int,
                    help="describes that leave a new resource out (default 0)")
    ap.add_argument("--region", help="the only region accepted in signatures")
    ap.add_argument("--tls-cert", help="serve HTTPS with this certificate (PEM)")
    ap.add_argument("--tls-key", help="private key of --tls-cert")
    ap.add_argument("--dmi-path", default="/sys/class/dmi/id/product_uuid",
                    help="DMI product identifier the agent's id derives from")
    ap.add_argument("--agent-mac", help="MAC of the agent's main interface "
                    "(default: this machine's first non-loopback IPv4 interface)")
    ap.add_argument("--exit-with-parent", action="store_true",
                    help="stop when the process that started the simulator is gone")
    ap.add_argument("-v", "--verbose", action="store_true")
    return ap.parse_args(argv)


def config_of(args):
    cfg = Config()
    if args.cloud_version:
        cfg.version = args.cloud_version
    if args.transition_polls is not None:
        cfg.transition_polls = args.transition_polls
    if args.page_size is not None:
        cfg.default_page_size = args.page_size
    if args.unlisted_describes is not None:
        cfg.unlisted_describes = args.unlisted_describes
    if args.region:
        cfg.region = args.region
    return cfg


def simulator_of(args):
    sim = Simulator(host=args.host, port=args.port, accounts=parse_accounts(args.accounts),
                    seed=args.seed or None, dev_root=args.dev_root, loop_mode=args.loop,
                    data_dir=args.data_dir, config=config_of(args),
                    tls_cert=args.tls_cert, tls_key=args.tls_key or args.tls_cert,
                    dmi_path=args.dmi_path, agent_mac=args.agent_mac)
    try:
        # Command-line settings win over the seed's "config" section.
        sim.state.config.update({k: v for k, v in vars(config_of(args)).items()
                                 if v != getattr(Config(), k)})
    except ValueError:
        sim.stop()
        raise
    return sim


def main(argv=None):
    args = arguments(argv)
    logging.basicConfig(level=logging.DEBUG if args.verbose else logging.WARNING,
                        format="tavrosim %(levelname)s %(message)s")
    # Before this simulator looks for a free loop device: those of simulators that were
    # killed are freed first.
    reclaim.reclaim(dev_root=args.dev_root, keep=[args.data_dir])
    try:
        sim = simulator_of(args)
    except SeedError as e:
        # Refused here rather than by the first request that would trip over it.
        print("tavrosim: seed %s refused: %s" % (args.seed, e), file=sys.stderr)
        return 2
    except (OSError, ValueError) as e:
        print("tavrosim: cannot start: %s" % e, file=sys.stderr)
        return 2

    def stop(signum, frame):
        sim.stop_requested.set()

    signal.signal(signal.SIGTERM, stop)
    signal.signal(signal.SIGINT, stop)
    if args.port_file:
        tmp = args.port_file + ".tmp"
        with open(tmp, "w") as f:
            f.write("%d\n" % sim.port)
        os.replace(tmp, args.port_file)
    if not args.host.startswith("127.") and args.host != "localhost":
        print("tavrosim: warning: the control interface (/_sim/) has no authentication "
              "and is reachable on %s" % args.host, file=sys.stderr)
    print("tavrosim listening on port %d (agent %s, loop mode %s)"
          % (sim.port, sim.state.agent_id, sim.state.loops.mode), flush=True)
    parent = os.getppid()
    sim.start()
    try:
        # A test that starts the simulator and is killed must not leave it running (and
        # holding the test's output open): its orphan is handed to another parent.
        while not sim.stop_requested.wait(1.0):
            if args.exit_with_parent and os.getppid() != parent:
                break
    finally:
        sim.stop()
    return 0


if __name__ == "__main__":
    sys.exit(main())
