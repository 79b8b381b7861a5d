"""The control interface for tests: JSON under /_sim/ on the query API's port.

  GET    /_sim/health                  {"ok": true, "port", "agent_id", "loop_mode"}
  GET    /_sim/state                   the whole cloud (config, every store, loop devices)
  POST   /_sim/seed                    replace the cloud: a seed document, or {"file": path}
  GET    /_sim/config  POST /_sim/config   read / change settings (version, ...)
  POST   /_sim/accounts                add accounts {"access key": "secret key", ...}
  GET    /_sim/faults  POST /_sim/faults  DELETE /_sim/faults   pending faults / add / clear
  POST   /_sim/residue                 {"volume_id", "attach_to"?}: a left-over tmp snapshot
  POST   /_sim/settle                  complete every change in progress
  GET    /_sim/leftovers               temporary resources still present ("clean": bool)
  GET    /_sim/calls[?action=A]  DELETE /_sim/calls   the query-API calls received
  GET    /_sim/digest?id=X             content digest of a volume or (tmp) snapshot
  POST   /_sim/write                   {"id", "offset", "hex"}: write bytes into a volume
  POST   /_sim/patch                   {"store", "id", "set": {field: value}}
  POST   /_sim/shutdown                stop the server (local devices are undone)
"""

import json
import os
import urllib.parse

from . import backing
from .actions import ACTIONS
from .actions.snapshots import attach_tmp, make_tmp_snapshot
from .errors import ApiError
from .faults import FaultError
from .model import Attachment
from .seed import SeedError, load_file
from .state import STORE_NAMES, resource_json


class ControlError(Exception):
    def __init__(self, status, message):
        super().__init__(message)
        self.status = status


def _json_body(body):
    if not body:
        return {}
    try:
        return json.loads(body.decode("utf-8"))
    except (UnicodeDecodeError, ValueError) as e:
        raise ControlError(400, "body is not JSON: %s" % e) from None


def _reply(status, data):
    return status, (json.dumps(data, indent=1, sort_keys=True) + "\n").encode()


def handle(sim, method, path, raw_query, body):
    """Answers one control request: (HTTP status, JSON body)."""
    route = ROUTES.get((method, path.rstrip("/") or "/"))
    if route is None:
        return _reply(404, {"error": "no control operation %s %s" % (method, path)})
    query = dict(urllib.parse.parse_qsl(raw_query))
    try:
        with sim.state.lock:
            return _reply(200, route(sim, _json_body(body), query))
    except ControlError as e:
        return _reply(e.status, {"error": str(e)})
    except (ApiError, FaultError, SeedError, ValueError, KeyError, TypeError,
            OSError) as e:
        return _reply(400, {"error": "%s: %s" % (type(e).__name__, e)})


def health(sim, body, query):
    st = sim.state
    return {"ok": True, "port": sim.port, "agent_id": st.agent_id,
            "loop_mode": st.loops.mode, "version": st.config.version}


def get_state(sim, body, query):
    return sim.state.describe()


def seed(sim, body, query):
    data = load_file(body["file"]) if "file" in body else body
    sim.state.loops.detach_all()
    sim.load_seed(data)
    sim.calls.clear()
    return {"ok": True, "agent_id": sim.state.agent_id}


def get_config(sim, body, query):
    return sim.state.describe()["config"]


def set_config(sim, body, query):
    sim.state.config.update(body)
    return get_config(sim, body, query)


def add_accounts(sim, body, query):
    if not all(isinstance(k, str) and isinstance(v, str) for k, v in body.items()):
        raise ControlError(400, "accounts map access keys to secret keys")
    sim.state.accounts.update(body)
    return {"ok": True, "access_keys": sorted(sim.state.accounts)}


def list_faults(sim, body, query):
    return {"pending": sim.faults.pending(), "fired": list(sim.faults.fired)}


def add_faults(sim, body, query):
    entries = body if isinstance(body, list) else [body]
    for entry in entries:
        sim.faults.add(entry, ACTIONS)
    return list_faults(sim, body, query)


def clear_faults(sim, body, query):
    sim.faults.clear()
    return {"ok": True}


def residue(sim, body, query):
    """A temporary snapshot left behind by an earlier run (attached to an instance
    when asked), so that CreateTmpSnapshots of its volume is refused naming it."""
    st = sim.state
    vol = st.get("volumes", body["volume_id"])
    tmp = make_tmp_snapshot(st, vol, "control")
    if body.get("attach_to"):
        attach_tmp(st, tmp, st.live_instance(body["attach_to"]))
        tmp.status = "attached"
    return resource_json(tmp)


def settle(sim, body, query):
    sim.state.settle()
    return {"ok": True}


def leftovers(sim, body, query):
    return sim.state.leftovers()


def calls(sim, body, query):
    wanted = query.get("action")
    return [c for c in sim.calls if not wanted or c["action"] == wanted]


def clear_calls(sim, body, query):
    sim.calls.clear()
    return {"ok": True}


def _backing_of(st, ident):
    if ident in st.volumes:
        vol = st.volumes[ident]
        st.loops.flush(ident)
        return st.volume_file(vol)
    for store in ("snapshots", "tmp_snapshots"):
        res = getattr(st, store).get(ident)
        if res is not None:
            return res.backing
    raise ControlError(404, "no volume or snapshot '%s'" % ident)


def digest(sim, body, query):
    ident = query.get("id") or body.get("id")
    path = _backing_of(sim.state, ident)
    return {"id": ident, "digest": backing.content_digest(path),
            "size": os.path.getsize(path), "path": path}


def write(sim, body, query):
    st = sim.state
    vol = st.get("volumes", body["id"])
    data = bytes.fromhex(body["hex"])
    offset = int(body["offset"])
    path = st.volume_file(vol)
    if offset < 0 or offset + len(data) > vol.size * backing.GIB:
        raise ControlError(400, "write outside the volume")
    st.loops.flush(vol.id)
    backing.write_chunks(path, [(offset, data)])
    return {"ok": True}


def patch(sim, body, query):
    """Sets fields of one resource, for situations no action produces."""
    store = body["store"]
    if store not in STORE_NAMES:
        raise ControlError(400, "unknown store '%s'" % store)
    res = sim.state.get(store, body["id"])
    for key, value in body.get("set", {}).items():
        if not hasattr(res, key) or key in ("id", "trans"):
            raise ControlError(400, "'%s' cannot be set" % key)
        if key == "attachment" and value is not None:
            value = Attachment(**value)
        setattr(res, key, value)
    res.trans = None if body.get("end_transition", True) else res.trans
    return resource_json(res)


def shutdown(sim, body, query):
    sim.stop_requested.set()
    return {"ok": True}


ROUTES = {
    ("GET", "/health"): health,
    ("GET", "/state"): get_state,
    ("POST", "/seed"): seed,
    ("GET", "/config"): get_config,
    ("POST", "/config"): set_config,
    ("POST", "/accounts"): add_accounts,
    ("GET", "/faults"): list_faults,
    ("POST", "/faults"): add_faults,
    ("DELETE", "/faults"): clear_faults,
    ("POST", "/residue"): residue,
    ("POST", "/settle"): settle,
    ("GET", "/leftovers"): leftovers,
    ("GET", "/calls"): calls,
    ("DELETE", "/calls"): clear_calls,
    ("GET", "/digest"): digest,
    ("POST", "/write"): write,
    ("POST", "/patch"): patch,
    ("POST", "/shutdown"): shutdown,
}
