# Types of the tavrosk package, for editors and type checkers.
import os
from typing import Iterator, Optional, Sequence, Tuple, Union

import numpy as np
import numpy.typing as npt

__version__: str

# uint8, uint16 or float32; (H, W), (H, W, C) or, for warp, (N, H, W, C).
Image = npt.NDArray[Union[np.uint8, np.uint16, np.float32]]
# (n, 2, 4) or (2n, 4).
Pairs = npt.ArrayLike
Shape = Union[Tuple[int, int], Tuple[int, int, int], Sequence[int]]
Path = Union[str, bytes, os.PathLike]
# None, a grey, (R, G, B) or (R, G, B, A), fractions of the full value.
Colour = Optional[Union[float, Sequence[float]]]

def warp(image: Image, pairs: Pairs, *, p: float = 0.5, a: float = 1.0, b: float = 1.0, threads: int = 0,
         outside: Colour = None, reference: bool = False, out: Optional[Image] = None) -> Image: ...
def morph(first: Image, second: Image, pairs: Pairs, *, frames: int = 30, start: int = 0, stop: Optional[int] = None,
          p: float = 0.5, a: float = 1.0, b: float = 1.0, threads: int = 0, outside: Colour = None,
          reference: bool = False) -> Iterator[Image]: ...
def morph_frame(first: Image, second: Image, pairs: Pairs, i: int, frames: int, *, p: float = 0.5, a: float = 1.0,
                b: float = 1.0, threads: int = 0, outside: Colour = None, reference: bool = False,
                out: Optional[Image] = None) -> Image: ...
def source_points(shape: Shape, pairs: Pairs, *, p: float = 0.5, a: float = 1.0, b: float = 1.0, threads: int = 0,
                  reference: bool = False) -> npt.NDArray[np.float64]: ...
def field(shape: Shape, pairs: Pairs, *, p: float = 0.5, a: float = 1.0, b: float = 1.0, threads: int = 0,
          reference: bool = False) -> npt.NDArray[np.float32]: ...
def folds(shape: Shape, pairs: Pairs, *, p: float = 0.5, a: float = 1.0, b: float = 1.0, threads: int = 0,
          reference: bool = False) -> npt.NDArray[np.uint8]: ...
def read_pairs(path: Path) -> npt.NDArray[np.float64]: ...
def write_pairs(path: Path, pairs: Pairs) -> None: ...
