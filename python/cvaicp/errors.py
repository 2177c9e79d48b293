"""What the binding raises, with the causes cvcal names: a configuration that is not there, a
postoffice or mailbox that is not there, names and values the store cannot take, a remote host
that cannot be reached. Each has a `kind`, the same stable names as cvcal's JSON errors."""


class CvaicpError(Exception):
    """Every failure the binding names. `kind` is a stable name for scripts."""

    kind = "failure"

    def __init__(self, message: str, kind: str = "") -> None:
        super().__init__(message)
        if kind:
            self.kind = kind


class ConfigurationError(CvaicpError):
    """No registry file, no mail root in it, or a library that does not load."""

    kind = "configuration"


class NotFoundError(CvaicpError):
    """The mail root, the postoffice's or the mailbox's folder is not there."""

    kind = "not-found"


class RefusedError(CvaicpError, ValueError):
    """A name, period or time the store cannot take; nothing was asked of the library."""

    kind = "refused"


class RemoteUnreachableError(CvaicpError):
    """The remote admin service of the current host cannot be reached."""

    kind = "unreachable"
