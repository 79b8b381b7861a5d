"""Errors of the query API: every refusal the simulator answers is an ApiError, which the
server turns into the cloud's error document (Response/Errors/Error/Code,Message)."""


class ApiError(Exception):
    """A refused request: error code, human message and HTTP status."""

    def __init__(self, code, message, status=400):
        super().__init__(message)
        self.code = code
        self.message = message
        self.status = status


class AuthError(ApiError):
    """A request whose signature or credentials were not accepted."""

    def __init__(self, code, message, status=401):
        super().__init__(code, message, status)


def not_found(code, kind, ident):
    return ApiError(code, "The %s '%s' does not exist" % (kind, ident))


def missing(name):
    return ApiError("MissingParameter",
                    "The request must contain the parameter %s" % name)


def invalid(message):
    return ApiError("InvalidParameterValue", message)


def incorrect_state(message, code="IncorrectState"):
    return ApiError(code, message)
