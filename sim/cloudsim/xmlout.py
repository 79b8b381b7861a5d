"""XML documents of the query API.

A document is built from nodes (name, value): value is a list of nodes (children), a
string, a number, a bool ("true"/"false") or None (empty element). Text is escaped for
'&', '<' and '>' only, so embedded JSON keeps its quotes as plain characters."""

from xml.sax.saxutils import escape

DECLARATION = '<?xml version="1.0" encoding="UTF-8"?>\n'


def text_of(value):
    if isinstance(value, bool):
        return "true" if value else "false"
    return escape(str(value))


def _render(node, out, depth, pretty):
    name, value = node
    pad = ("\n" + "  " * depth) if pretty and depth else ""
    if value is None or value == []:
        out.append("%s<%s/>" % (pad, name))
    elif isinstance(value, list):
        out.append("%s<%s>" % (pad, name))
        for child in value:
            _render(child, out, depth + 1, pretty)
        out.append("%s</%s>" % ("\n" + "  " * depth if pretty else "", name))
    else:
        out.append("%s<%s>%s</%s>" % (pad, name, text_of(value), name))


def document(root_name, children, xmlns=None, pretty=False):
    """A whole answer: the declaration, then the root element with its children."""
    out = [DECLARATION]
    attr = ' xmlns="%s"' % escape(xmlns, {'"': "&quot;"}) if xmlns else ""
    out.append("<%s%s>" % (root_name, attr))
    for child in children:
        _render(child, out, 1, pretty)
    out.append("\n</%s>\n" % root_name if pretty else "</%s>\n" % root_name)
    return "".join(out).encode("utf-8")


def error_document(code, message, request_id):
    """The error answer: Response/Errors/Error/Code,Message and the request id."""
    body = ("Response", [("Errors", [("Error", [("Code", code), ("Message", message)])]),
                         ("RequestID", request_id)])
    out = [DECLARATION]
    _render(body, out, 0, False)
    out.append("\n")
    return "".join(out).encode("utf-8")


def items(name, records):
    """A set element holding one "item" per record (each a list of child nodes)."""
    return (name, [("item", rec) for rec in records])
