"""The query API's actions. Each action module registers its handlers with @action,
naming the parameters (regular expressions) and filters the action takes. A handler
receives a Call and returns the child elements of its "<Action>Response" root."""

import datetime
import re
import secrets
from dataclasses import dataclass, field

from ..errors import ApiError, invalid, not_found
from ..params import compile_patterns
from ..state import NOT_FOUND
from ..xmlout import items

ACTIONS = {}
COMMON_PARAMS = ("Action", "Version")
FILTER_PARAMS = (r"Filter\.\d+\.Name", r"Filter\.\d+\.Value\.\d+")
PAGING_PARAMS = ("MaxRecords", "NextToken")


@dataclass
class ActionEntry:
    name: str
    handler: object
    patterns: list
    filters: frozenset
    paged: bool


@dataclass
class Call:
    """One request being answered: the state (its lock held), the parameters and the
    injected faults that modify this call."""
    state: object
    params: object
    modifiers: list = field(default_factory=list)

    def lifecycle_fault(self):
        for m in self.modifiers:
            if m["kind"] in ("end_status", "stuck"):
                return m
        return None

    def wants(self, kind):
        return any(m["kind"] == kind for m in self.modifiers)

    def filters(self):
        return self.params.filters(ACTIONS[self.action_name].filters)

    action_name: str = ""


def action(name, params=(), filters=(), paged=False):
    def register(fn):
        pats = list(params) + list(COMMON_PARAMS)
        if filters:
            pats += FILTER_PARAMS
        if paged:
            pats += PAGING_PARAMS
        ACTIONS[name] = ActionEntry(name, fn, compile_patterns(pats), frozenset(filters),
                                   paged)
        return fn
    return register


def now_iso():
    return datetime.datetime.now(datetime.timezone.utc).strftime(
        "%Y-%m-%dT%H:%M:%S.000Z")


def hidden(res):
    """True when a describe must still leave `res` out; counts that describe."""
    if res.unlisted <= 0:
        return False
    res.unlisted -= 1
    return True


def select(resources, checks):
    """The resources for which every (getter, wanted values) check holds; a check
    with no values does not filter. New resources not listed yet are left out."""
    out = []
    for res in resources:
        if all(not wanted or getter(res) in wanted for getter, wanted in checks):
            if not hidden(res):
                out.append(res)
    return out


def by_ids(state, store, ids):
    """The resources named by explicit ids, refusing the first unknown one (or one not
    listed yet)."""
    found = [state.get(store, i) for i in ids]
    for res in found:
        if hidden(res):
            code, kind = NOT_FOUND[store]
            raise not_found(code, kind, res.id)
    return found


def poll_all(state, resources):
    for res in resources:
        state.polled(res)


def result_true():
    return [("return", True)]


def tag_set(res):
    """The resource's tags as the cloud lists them: its name, then its own tags."""
    tags = ([("Name", res.name)] if getattr(res, "name", "") else []) + \
        sorted(res.tags.items())
    return items("tagSet", [[("key", k), ("value", v)] for k, v in tags])


def next_device(used):
    """The device name after the greatest one in use (/dev/vda when none)."""
    top = max(used, default="/dev/vd`")
    return top[:-1] + chr(ord(top[-1]) + 1)


def paginate(call, action_name, criteria_of_request, listing):
    """One page of a long listing. The first request carries no token: its criteria
    come from its own parameters; a NextToken request reuses the criteria stored with
    the token. The page size is MaxRecords, or the configured default (None: all)."""
    state, params = call.state, call.params
    token = params.get("NextToken")
    size = params.int_value("MaxRecords", 1, 1000)
    if token:
        entry = state.page_tokens.get(token)
        if entry is None or entry["action"] != action_name:
            raise invalid("The next token '%s' is invalid" % token)
        criteria, offset = entry["criteria"], entry["offset"]
    else:
        criteria, offset = criteria_of_request(), 0
    everything = listing(criteria)
    if size is None:
        size = state.config.default_page_size
    if size is None:
        return everything[offset:], None
    page = everything[offset:offset + size]
    next_token = None
    if offset + size < len(everything):
        next_token = "tok-" + secrets.token_hex(8)
        state.page_tokens[next_token] = {"action": action_name, "criteria": criteria,
                                         "offset": offset + size}
    if token and call.wants("repeat_token"):
        next_token = token
    return page, next_token


def check_device(device):
    if not re.match(r"^/dev/[a-z][a-z0-9]*$", device or ""):
        raise invalid("The device name '%s' is invalid" % device)


def state_error(message):
    return ApiError("IncorrectState", message)


# Importing the action modules registers their handlers.
from . import inventory, compute, volumes, snapshots, network  # noqa: E402,F401
