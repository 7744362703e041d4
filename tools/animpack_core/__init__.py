"""animpack: makes distributable animations for the player, and turns GIFs
written for web browsers into GIFs that the player shows the same way."""

__version__ = "1.0.0"
