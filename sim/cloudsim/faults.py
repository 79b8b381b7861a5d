"""Injected faults: a test registers a fault for the Nth call of an action (counted from
the moment the fault is added), and that call then fails or behaves differently.

Kinds:
  error        the call is refused with `code`, `message` and `http_status`
  end_status   the change the call starts ends in `status` instead of its normal state
  stuck        the change the call starts never completes
  repeat_token a page answer carries the same nextToken the request asked with
  return_false a call answered with a "return" flag answers 200 with "false" (and does
               nothing)
  disconnect   the connection is closed without an answer (and the call does nothing)
  body         the call is answered 200 with the text `body` as it is (and does nothing):
               answers of hostile or broken shapes
  delay        the call is held `seconds` (at most MAX_DELAY) before the cloud acts on it,
               other calls going on meanwhile: races between jobs made deterministic
`times` consecutive calls are affected (default 1)."""

import threading

from .errors import ApiError

KINDS = ("error", "end_status", "stuck", "repeat_token", "return_false", "disconnect",
         "body", "delay")

# The longest a delay fault may hold a call, seconds.
MAX_DELAY = 600


class FaultError(ValueError):
    pass


class Disconnect(Exception):
    """Raised for a call that a `disconnect` fault hits: the server hangs up on it."""


def _validate(entry):
    if not isinstance(entry, dict):
        raise FaultError("a fault is a JSON object")
    fault = dict(entry)
    fault.setdefault("kind", "error")
    fault.setdefault("nth", 1)
    fault.setdefault("times", 1)
    if fault["kind"] not in KINDS:
        raise FaultError("unknown fault kind '%s'" % fault["kind"])
    if not isinstance(fault.get("action"), str) or not fault["action"]:
        raise FaultError("a fault names its action")
    for key in ("nth", "times"):
        if not isinstance(fault[key], int) or fault[key] < 1:
            raise FaultError("'%s' must be a positive integer" % key)
    if fault["kind"] == "error":
        fault.setdefault("code", "InternalError")
        fault.setdefault("message", "Injected failure of %s" % fault["action"])
        fault.setdefault("http_status", 500 if fault["code"] == "InternalError" else 400)
    if fault["kind"] == "end_status" and not fault.get("status"):
        raise FaultError("an end_status fault names the status")
    if fault["kind"] == "body" and not isinstance(fault.get("body"), str):
        raise FaultError("a body fault gives the body as a text")
    if fault["kind"] == "delay":
        seconds = fault.get("seconds")
        if (isinstance(seconds, bool) or not isinstance(seconds, (int, float))
                or not 0 < seconds <= MAX_DELAY):
            raise FaultError("a delay fault gives 'seconds', a number above 0 and at most %d"
                             % MAX_DELAY)
    fault["seen"] = 0
    return fault


class FaultInjector:
    def __init__(self):
        self._lock = threading.Lock()
        self._faults = []
        self.fired = []

    def add(self, entry, known_actions=None):
        fault = _validate(entry)
        if known_actions is not None and fault["action"] not in known_actions:
            raise FaultError("unknown action '%s'" % fault["action"])
        with self._lock:
            self._faults.append(fault)
        return fault

    def clear(self):
        with self._lock:
            self._faults = []
            self.fired = []

    def pending(self):
        with self._lock:
            return [dict(f) for f in self._faults]

    def on_call(self, action):
        """Counts one call of `action`; returns (error or None, modifiers): the error
        to answer, and the non-error faults that apply to this call."""
        error, modifiers = None, []
        with self._lock:
            keep = []
            for fault in self._faults:
                if fault["action"] != action:
                    keep.append(fault)
                    continue
                fault["seen"] += 1
                first, last = fault["nth"], fault["nth"] + fault["times"] - 1
                if first <= fault["seen"] <= last:
                    self.fired.append({"action": action, "kind": fault["kind"],
                                       "call": fault["seen"]})
                    if fault["kind"] == "error":
                        error = error or ApiError(fault["code"], fault["message"],
                                                  fault["http_status"])
                    elif fault["kind"] == "disconnect":
                        error = error or Disconnect()
                    else:
                        modifiers.append(fault)
                if fault["seen"] < last:
                    keep.append(fault)
            self._faults = keep
        return error, modifiers
