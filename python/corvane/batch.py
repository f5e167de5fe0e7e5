def batch(*args, **kwargs):
    raise NotImplementedError
