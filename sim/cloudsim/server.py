"""The simulator's HTTP(S) server: the query API on every path but /_sim/, the control
interface (JSON) under /_sim/. Simulator is also the Python API for embedding the
cloud in a test."""

import logging
import ssl
import threading
import urllib.parse
import uuid
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

from . import control, netinfo
from .actions import ACTIONS, Call
from .errors import ApiError
from .faults import Disconnect, FaultInjector
from .params import Params, check_known
from .seed import SeedLoader, load_file
from .signing import PRESIGN_KEYS, Verifier, split_query
from .state import CloudState, Config
from .xmlout import document, error_document

log = logging.getLogger("tavrosim")

API_VERSION = "2016-11-15"
MAX_BODY = 4 << 20
CALL_LOG_LIMIT = 20000
CONTROL_PREFIX = "/_sim"


class Simulator:
    """One simulated cloud served on host:port (port 0: a free one)."""

    def __init__(self, host="127.0.0.1", port=0, accounts=None, seed=None,
                 dev_root="/dev", loop_mode="auto", data_dir=None, config=None,
                 tls_cert=None, tls_key=None, dmi_path=netinfo.DMI_PATH, agent_mac=None):
        self.state = CloudState(config or Config(), dev_root, loop_mode, data_dir)
        self.faults = FaultInjector()
        self.calls = []
        self.seeder = SeedLoader(self.state, dmi_path, agent_mac)
        try:
            if seed is not None:
                self.load_seed(seed)
        except BaseException:
            self.state.close()  # the temporary data folder
            raise
        self.state.accounts.update(accounts or {})
        self.verifier = Verifier(self.state.accounts)
        self.httpd = ThreadingHTTPServer((host, port), Handler)
        self.httpd.daemon_threads = True
        self.httpd.simulator = self
        self.tls = bool(tls_cert)
        if tls_cert:
            ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
            ctx.load_cert_chain(tls_cert, tls_key)
            self.httpd.socket = ctx.wrap_socket(self.httpd.socket, server_side=True,
                                               do_handshake_on_connect=False)
        self._thread = None
        self._stopped = False
        self._closing = threading.Event()
        self.stop_requested = threading.Event()

    @property
    def port(self):
        return self.httpd.server_address[1]

    @property
    def url(self):
        return "%s://%s:%d/" % ("https" if self.tls else "http",
                                self.httpd.server_address[0], self.port)

    def load_seed(self, seed):
        """Replaces the cloud by a seed: a dict or the path of a JSON file."""
        data = load_file(seed) if isinstance(seed, str) else seed
        with self.state.lock:
            self.seeder.load(data)
            self.faults.clear()

    def start(self):
        self._thread = threading.Thread(target=self.httpd.serve_forever, args=(0.05,),
                                        name="tavrosim-http", daemon=True)
        self._thread.start()
        return self.port

    def stop(self):
        """Stops serving and undoes every local device; idempotent."""
        if self._stopped:
            return
        self._stopped = True
        self._closing.set()
        if self._thread is not None:
            self.httpd.shutdown()
            self._thread.join()
        self.httpd.server_close()
        with self.state.lock:
            self.state.close()

    # ---- the query API -----------------------------------------------------------------
    def handle_api(self, method, raw_path, raw_query, headers, body):
        """Answers one query-API request: (HTTP status, XML body), or (None, None) when
        the connection is to be dropped without an answer."""
        request_id = str(uuid.uuid4())
        try:
            cfg = self.state.config
            self.verifier.region, self.verifier.max_skew = cfg.region, cfg.max_skew
            access_key = self.verifier.verify(method, raw_path, raw_query, headers, body)
            action, params = self._request_params(method, raw_query, headers, body)
            xml = self._dispatch(access_key, action, params, request_id)
            return 200, xml
        except Disconnect:
            log.info("%s dropped by an injected fault", request_id)
            return None, None
        except ApiError as e:
            log.info("%s refused: %s %s", request_id, e.code, e.message)
            return e.status, error_document(e.code, e.message, request_id)
        except Exception:  # a fault of the simulator must still answer the client
            log.exception("request %s failed", request_id)
            return 500, error_document("InternalError", "The simulator failed to "
                                       "answer", request_id)

    @staticmethod
    def _request_params(method, raw_query, headers, body):
        pairs = [(n, v) for n, v in split_query(raw_query) if n not in PRESIGN_KEYS]
        if method == "POST" and body:
            ctype = next((v for n, v in headers if n.lower() == "content-type"), "")
            if ctype and "x-www-form-urlencoded" not in ctype:
                raise ApiError("InvalidParameterValue",
                               "Unsupported content type '%s'" % ctype, 415)
            try:
                text = body.decode("utf-8")
            except UnicodeDecodeError:
                raise ApiError("InvalidParameterValue", "The body is not UTF-8") \
                    from None
            pairs += urllib.parse.parse_qsl(text, keep_blank_values=True)
        params = Params(pairs)
        action = params.get("Action")
        if not action:
            raise ApiError("MissingAction", "The request must contain the parameter "
                           "Action")
        version = params.get("Version")
        if not version:
            raise ApiError("MissingParameter", "The request must contain the parameter "
                           "Version")
        if version != API_VERSION:
            raise ApiError("InvalidParameterValue", "API version '%s' is not supported"
                           % version)
        return action, params

    def _dispatch(self, access_key, action, params, request_id):
        entry = ACTIONS.get(action)
        if entry is None:
            raise ApiError("InvalidAction", "The action %s is not valid for this web "
                           "service" % action)
        state = self.state
        with state.lock:
            self._record(access_key, action, params)
            if state.config.strict_params:
                check_known(params, entry.patterns)
            error, modifiers = self.faults.on_call(action)
        # A delayed call is held outside the cloud's lock: other calls go on meanwhile.
        self._hold(modifiers)
        with state.lock:
            if error is not None:
                raise error
            replaced = [m["body"] for m in modifiers if m["kind"] == "body"]
            if replaced:
                return replaced[0].encode("utf-8")
            call = Call(state, params, modifiers, action_name=action)
            if call.wants("return_false"):
                children = [("return", False)]
            else:
                children = entry.handler(call)
            return document(action + "Response", [("requestId", request_id)] + children,
                            state.config.xmlns, state.config.pretty)

    def _hold(self, modifiers):
        """Waits out the delay faults among `modifiers`; a call still held when the
        simulator stops is dropped."""
        seconds = sum(m["seconds"] for m in modifiers if m["kind"] == "delay")
        if seconds and self._closing.wait(seconds):
            raise Disconnect()

    def _record(self, access_key, action, params):
        self.calls.append({"action": action, "access_key": access_key,
                           "params": [[n, v] for n, v in params.pairs
                                      if n not in ("Action", "Version")]})
        if len(self.calls) > CALL_LOG_LIMIT:
            del self.calls[:len(self.calls) - CALL_LOG_LIMIT]


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "tavrosim/1"

    def log_message(self, fmt, *args):
        log.debug("%s %s", self.address_string(), fmt % args)

    def do_GET(self):
        self._serve("GET")

    def do_POST(self):
        self._serve("POST")

    def do_DELETE(self):
        self._serve("DELETE")

    def do_PUT(self):
        self._serve("PUT")

    def _serve(self, method):
        sim = self.server.simulator
        raw_path, _, raw_query = self.path.partition("?")
        try:
            body = self._read_body()
        except ValueError as e:
            self._send(400, b"bad request body: %s\n" % str(e).encode(), "text/plain")
            self.close_connection = True
            return
        if raw_path == CONTROL_PREFIX or raw_path.startswith(CONTROL_PREFIX + "/"):
            status, payload = control.handle(sim, method, raw_path[len(CONTROL_PREFIX):],
                                             raw_query, body)
            self._send(status, payload, "application/json")
            return
        status, xml = sim.handle_api(method, raw_path, raw_query,
                                     list(self.headers.items()), body)
        if status is None:  # an injected transport failure: hang up without an answer
            self.close_connection = True
            return
        self._send(status, xml, "text/xml;charset=UTF-8")

    def _read_body(self):
        if self.headers.get("Transfer-Encoding", "").lower() == "chunked":
            return self._read_chunked()
        length = self.headers.get("Content-Length")
        if not length:
            return b""
        n = int(length)
        if n < 0 or n > MAX_BODY:
            raise ValueError("length %d not accepted" % n)
        return self.rfile.read(n)

    def _read_chunked(self):
        data = b""
        while True:
            size = int(self.rfile.readline().split(b";")[0].strip() or b"0", 16)
            if size == 0:
                while self.rfile.readline() not in (b"\r\n", b"\n", b""):
                    pass
                return data
            data += self.rfile.read(size)
            self.rfile.readline()
            if len(data) > MAX_BODY:
                raise ValueError("body too large")

    def _send(self, status, payload, ctype):
        self.send_response(status)
        self.send_header("Content-Type", ctype)
        self.send_header("Content-Length", str(len(payload)))
        self.end_headers()
        if self.command != "HEAD":
            self.wfile.write(payload)
