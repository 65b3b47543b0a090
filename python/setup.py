"""The wheel's tag. The metadata is pyproject.toml's.

A tree with the C library copied into velmora/ beside __init__.py (as ./setup.sh wheel
does) gives a wheel for this platform that carries it, tagged py3-none-PLATFORM: any
Python 3 loads it through ctypes. Without one, the wheel is py3-none-any and finds the
library installed on the system.
"""

import os

from setuptools import Distribution, setup
from wheel.bdist_wheel import bdist_wheel

LIBRARIES = ("libvelmora.so.1", "velmora.dll", "libvelmora.1.dylib")
HERE = os.path.dirname(os.path.abspath(__file__))
BUNDLED = any(os.path.isfile(os.path.join(HERE, "velmora", name)) for name in LIBRARIES)


class WithLibrary(Distribution):
    # Counted as an extension: the package goes into the platform's folder, and the wheel
    # is not pure.
    def has_ext_modules(self):
        return BUNDLED


class PlatformWheel(bdist_wheel):
    def get_tag(self):
        python, abi, platform = super().get_tag()
        return ("py3", "none", platform) if BUNDLED else (python, abi, platform)


setup(distclass=WithLibrary, cmdclass={"bdist_wheel": PlatformWheel})
