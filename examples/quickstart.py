"""A first look at tessarline."""

from tessarline import _tessarline as T

print("tessarline", T.version())
print("is_arabic('\u0628') =", T.is_arabic("\u0628"), " is_pua('\\ue000') =", T.is_pua("\ue000"))
