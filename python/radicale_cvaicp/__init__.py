"""Radicale storage and rights plugins over the calendar store of the mail server.

    [storage]
    type = radicale_cvaicp
    [rights]
    type = radicale_cvaicp.rights
"""
from .storage import Storage

__all__ = ["Storage"]
